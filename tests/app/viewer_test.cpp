// The transaction viewer: record summaries and field rows on real files, every image format
// decoded into the image panel, minutiae placed on their image, the comparison of two files, and
// files that cannot be read.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <QWheelEvent>

#include "app/main_dlg.h"
#include "app/viewer_compare.h"
#include "app/viewer_dlg.h"
#include "app/viewer_image.h"
#include "app/viewer_model.h"
#include "app/viewer_run_files.h"
#include "imaging/image_layer.h"
#include "samples/tx_builder.h"
#include "tests/app/fake_shell.h"
#include "transaction/traditional.h"

using namespace varnel::app;
using varnel::app::test::FakeShell;

namespace {

QString corpus(const char* relative) {
  return QDir(QStringLiteral(VARNEL_CORPUS_DIR)).filePath(QString::fromUtf8(relative));
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

bool writeFile(const QString& path, const std::string& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                                             static_cast<qint64>(bytes.size());
}

std::shared_ptr<const ViewedTransaction> open(const QString& path) {
  std::shared_ptr<const ViewedTransaction> out;
  std::string reason;
  const int rc = openTransaction(path.toStdString(), out, reason);
  if (rc != 0) qWarning("%s: %s", qPrintable(path), reason.c_str());
  return out;
}

// Opens `path` in a viewer and waits until it is shown or refused.
bool openInViewer(CViewerDlg& viewer, const QString& path) {
  QSignalSpy loaded(&viewer, &CViewerDlg::transactionLoaded);
  QSignalSpy failed(&viewer, &CViewerDlg::loadFailed);
  viewer.openFile(path);
  return QTest::qWaitFor([&] { return !loaded.isEmpty() || !failed.isEmpty(); }, 60000) &&
         !loaded.isEmpty();
}

// A transaction with a Type-2 record and one raw Type-14 image, changed by `edit`.
std::string sample(const std::string& name, bool extraRecord) {
  varnel::samples::TxBuilder b;
  b.type2(0, {{18, name}});
  b.type14(1, 4, 2, std::string(8, '\x80'));
  if (extraRecord) b.type2(0, {{18, "SECOND"}});
  return b.bytes();
}

// The viewer with its drop handler reachable, as the window system would call it.
class DropTarget : public CViewerDlg {
 public:
  using CViewerDlg::CViewerDlg;
  using CViewerDlg::dropEvent;
};

}  // namespace

class ViewerTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  FakeShell shell_;

 private slots:
  void summariesNamePositionFormatSizeAndResolution_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    const QString tpcard = corpus("nist-reference/type-14-tpcard-nqm.an2");
    QTest::newRow("Type-1") << tpcard << 0 << "Type-1 Transaction information, TOT AMN, VER 0400";
    QTest::newRow("finger") << tpcard << 2 << "Type-14 right thumb, WSQ20 804x752 500 ppi";
    QTest::newRow("binary record: resolution from 1.011")
        << corpus("nist-reference/type-4-slaps.an2") << 2
        << "Type-4 plain left four fingers, WSQ20 1608x1000 500 ppi";
    QTest::newRow("acronym keeps its case") << corpus("nist-reference/type-13-tip-eji-wsq.an2") << 2
                                            << "Type-13 EJI or tip, WSQ20 344x370 500 ppi";
    // Scale units 0 give an aspect ratio, not a resolution.
    QTest::newRow("photo without resolution")
        << corpus("nist-reference/type-10-14-17-piv-index-iris.an2") << 2
        << "Type-10 FACE, JPEGB 480x640 colour";
    QTest::newRow("minutiae") << corpus("nist-reference/type-9-4-iafis.an2") << 2
                              << "Type-9 Minutiae data, 48 minutiae (FBI IAFIS)";
  }

  void summariesNamePositionFormatSizeAndResolution() {
    QFETCH(QString, file);
    QFETCH(int, position);
    QFETCH(QString, text);
    auto tx = open(file);
    QVERIFY(tx);
    const auto records = summarizeRecords(tx->file);
    QVERIFY(position < static_cast<int>(records.size()));
    QCOMPARE(QString::fromStdString(records[position].text), text);
    QCOMPARE(records[position].position, position);
  }

  void summariesCountOccurrencesPerType() {
    auto tx = open(corpus("nist-reference/type-14-tpcard-nqm.an2"));
    QVERIFY(tx);
    const auto records = summarizeRecords(tx->file);
    QCOMPARE(records.size(), std::size_t{16});
    QCOMPARE(records[2].idc, std::string("01"));
    QCOMPARE(records[15].occurrence, 13);
    QVERIFY(records[15].hasImage);
    QVERIFY(!records[1].hasImage);
  }

  void fieldRowsCarryMnemonicsAndHideImageBytes() {
    auto tx = open(corpus("nist-reference/type-14-tpcard-nqm.an2"));
    QVERIFY(tx);
    const auto rows = fieldRows(tx->file.transaction()->records[2]);
    const auto find = [&rows](int n) {
      for (const auto& r : rows) {
        if (r.number == n) return r;
      }
      return FieldRow{};
    };
    QCOMPARE(find(13).tag, std::string("14.013"));
    QCOMPARE(find(13).mnemonic, std::string("FGP"));
    QCOMPARE(find(13).value, std::string("1"));
    QVERIFY(find(999).imageData);
    QVERIFY(find(999).value.rfind("<", 0) == 0);
    QVERIFY(find(999).value.find("bytes of image data>") != std::string::npos);
  }

  void xmlTransactionOpens() {
    auto tx = open(corpus("interpol/Sample-MPS-INT-ITransaction.xml"));
    QVERIFY(tx);
    QVERIFY(tx->file.isXml());
    const auto records = summarizeRecords(tx->file);
    QVERIFY(records.size() > 1);
    QCOMPARE(records[0].type, 1);
  }

  void treeExpandsFieldsSubfieldsAndItemsOnDemand() {
    CViewerDlg viewer(shell_);
    QVERIFY(openInViewer(viewer, corpus("nist-reference/type-9-4-iafis.an2")));
    QTreeWidget* tree = viewer.tree();
    QCOMPARE(tree->topLevelItemCount(), 4);
    QTreeWidgetItem* type9 = tree->topLevelItem(2);
    QCOMPARE(type9->childCount(), 1);  // the placeholder until expanded
    type9->setExpanded(true);
    QTreeWidgetItem* minutiae = nullptr;
    for (int i = 0; i < type9->childCount(); ++i) {
      if (type9->child(i)->text(0) == "9.023") minutiae = type9->child(i);
    }
    QVERIFY(minutiae != nullptr);
    minutiae->setExpanded(true);
    QVERIFY(minutiae->childCount() > 1);
    QTreeWidgetItem* first = minutiae->child(0);
    first->setExpanded(true);
    QVERIFY(first->childCount() > 1);
    QCOMPARE(first->child(0)->text(0), QString("item 1"));
  }

  void eachImageFormatDecodesIntoThePanel_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("position");
    QTest::addColumn<QSize>("size");
    QTest::newRow("WSQ") << corpus("nist-reference/type-14-tpcard-nqm.an2") << 2 << QSize(804, 752);
    QTest::newRow("JPEG") << corpus("nist-reference/type-10-branded-tattoo-mark.an2") << 2
                          << QSize(640, 400);
    QTest::newRow("lossless JPEG")
        << corpus("nist-reference/type-10-14-17-piv-index-iris.an2") << 4 << QSize(288, 512);
    QTest::newRow("PNG") << corpus("nist-reference/type-17-iris.an2") << 2 << QSize(449, 312);
    QTest::newRow("raw 8-bit") << corpus("nist-reference/type-9-14-std.an2") << 3 << QSize();
    QTest::newRow("raw 1-bit") << corpus("nist-reference/type-6.an2") << 2 << QSize();
    // JPEG 2000: a small colour JP2 file in a record built here.
    const QByteArray jp2 =
        readAll(QStringLiteral(VARNEL_SOURCE_DIR "/tests/data/imaging/imageHeader_test.jp2"));
    varnel::samples::TxBuilder b;
    b.type10(240, 320, jp2.toStdString());
    const QString built = dir_.filePath("jp2.an2");
    QVERIFY(writeFile(built, b.bytes()));
    QTest::newRow("JPEG 2000") << built << 1 << QSize(240, 320);
  }

  void eachImageFormatDecodesIntoThePanel() {
    QFETCH(QString, file);
    QFETCH(int, position);
    QFETCH(QSize, size);
    CViewerDlg viewer(shell_);
    QVERIFY(openInViewer(viewer, file));
    QSignalSpy shown(&viewer, &CViewerDlg::imageShown);
    viewer.selectRecord(position);
    QVERIFY(shown.wait(60000));
    QVERIFY2(viewer.imageView()->hasImage(), viewer.records()[position].text.c_str());
    if (size.isValid()) {
      QCOMPARE(viewer.imageView()->imageSize(), size);
    } else {
      // Raw records: the size the record declares.
      std::string_view w, h;
      const auto& r = viewer.records()[position];
      QVERIFY(viewer.viewed()->file.getFieldText(r.type, 6, w, r.occurrence) >= 0);
      QVERIFY(viewer.viewed()->file.getFieldText(r.type, 7, h, r.occurrence) >= 0);
      QCOMPARE(viewer.imageView()->imageSize(), QSize(QByteArray(w.data(), w.size()).toInt(),
                                                      QByteArray(h.data(), h.size()).toInt()));
    }
  }

  void panelDrawsMinutiaeAndZoomsWithTheWheel() {
    CViewerDlg viewer(shell_);
    viewer.resize(900, 600);
    QVERIFY(openInViewer(viewer, corpus("nist-reference/type-9-4-iafis.an2")));
    QSignalSpy shown(&viewer, &CViewerDlg::imageShown);
    viewer.selectRecord(3);
    QVERIFY(shown.wait(60000));
    ImageView* view = viewer.imageView();
    QCOMPARE(view->markCount(), 48);
    const double fitted = view->zoom();
    QWheelEvent wheel(QPointF(50, 50), view->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    QVERIFY(view->zoom() > fitted);
    view->zoomActual();
    QCOMPARE(view->zoom(), 1.0);
  }

  void oneBitImagesKeepBlackAsBlack() {
    varnel::imaging::RawImage raw;
    raw.width = 9;
    raw.height = 1;
    raw.depth = 1;
    raw.pixels = {0x80, 0x00};  // first pixel black, the rest white
    const QImage img = toQImage(raw);
    QCOMPARE(img.size(), QSize(9, 1));
    QCOMPARE(img.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(img.pixel(8, 0), qRgb(255, 255, 255));
  }

  void minutiaeLandOnTheirImage_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("countField");
    QTest::newRow("FBI IAFIS") << corpus("nist-reference/type-9-4-iafis.an2") << 4 << "FBI IAFIS"
                               << 15;
    QTest::newRow("INCITS 378") << corpus("nist-reference/type-9-14-m1.an2") << 14 << "INCITS 378"
                                << 136;
  }

  void minutiaeLandOnTheirImage() {
    QFETCH(QString, file);
    QFETCH(int, type);
    QFETCH(QString, source);
    QFETCH(int, countField);
    auto tx = open(file);
    QVERIFY(tx);
    std::string from;
    const auto marks = minutiaeForImage(tx->file, type, 0, from);
    QCOMPARE(QString::fromStdString(from), source);
    std::string_view count;
    QVERIFY(tx->file.getFieldText(9, countField, count) >= 0);
    QCOMPARE(static_cast<int>(marks.size()), QByteArray(count.data(), count.size()).toInt());
    int w = 0, h = 0, depth = 0;
    QCOMPARE(varnel::imaging::getImageInfo(tx->file, type, 0, w, h, depth), 0);
    for (const auto& m : marks) {
      QVERIFY2(m.x >= 0 && m.x <= w && m.y >= 0 && m.y <= h,
               qPrintable(QString("%1,%2 outside %3x%4").arg(m.x).arg(m.y).arg(w).arg(h)));
    }
    // The Type-2 record shares no IDC with a Type-9 record: nothing is drawn on other images.
    QVERIFY(minutiaeForImage(tx->file, 2, 0, from).empty());
  }

  void absurdMinutiaAnglesStayWithinATurn() {
    varnel::transaction::NistFile file;
    QCOMPARE(file.load(corpus("nist-reference/type-9-14-m1.an2").toStdString()), 0);
    QCOMPARE(file.setItem(9, 137, 0, 0, 3, "99999999999"), 0);
    std::string from;
    const auto marks = minutiaeForImage(file, 14, 0, from);
    QVERIFY(!marks.empty());
    QVERIFY(marks[0].theta >= 0 && marks[0].theta < 360);
  }

  void diffPairsRecordsAndFindsChangedFields() {
    std::unique_ptr<varnel::transaction::Transaction> a, b;
    const std::string left = sample("DOE,JOHN", false);
    const std::string right = sample("DOE,JANE", true);
    QCOMPARE(varnel::transaction::readTraditionalBytes(left, a), 0);
    QCOMPARE(varnel::transaction::readTraditionalBytes(right, b), 0);
    const auto diff = diffTransactions(*a, *b);
    QCOMPARE(diff.size(), std::size_t{4});
    // Type 1: the content list counts one more record.
    QCOMPARE(diff[0].kind, DiffKind::kChanged);
    // Type 2: field 18 changed, the rest equal.
    QCOMPARE(diff[1].kind, DiffKind::kChanged);
    for (const auto& f : diff[1].fields) {
      QCOMPARE(f.kind, f.number == 18 ? DiffKind::kChanged : DiffKind::kSame);
    }
    // The image record holds the same bytes on both sides.
    QCOMPARE(diff[2].type, 14);
    QCOMPARE(diff[2].kind, DiffKind::kSame);
    QCOMPARE(diff[3].kind, DiffKind::kOnlyRight);
    QCOMPARE(diff[3].leftPosition, -1);
    QCOMPARE(diff[3].rightPosition, 3);
  }

  void diffSeesChangedImageBytes() {
    varnel::samples::TxBuilder x, y;
    x.type14(1, 4, 2, std::string(8, '\x80'));
    y.type14(1, 4, 2, std::string(7, '\x80') + '\x81');
    std::unique_ptr<varnel::transaction::Transaction> a, b;
    QCOMPARE(varnel::transaction::readTraditionalBytes(x.bytes(), a), 0);
    QCOMPARE(varnel::transaction::readTraditionalBytes(y.bytes(), b), 0);
    const auto diff = diffTransactions(*a, *b);
    QCOMPARE(diff[1].kind, DiffKind::kChanged);
    for (const auto& f : diff[1].fields) {
      QCOMPARE(f.kind, f.number == 999 ? DiffKind::kChanged : DiffKind::kSame);
    }
  }

  void compareWindowLinesUpBothSides() {
    const QString left = dir_.filePath("left.an2");
    const QString right = dir_.filePath("right.an2");
    QVERIFY(writeFile(left, sample("DOE,JOHN", false)));
    QVERIFY(writeFile(right, sample("DOE,JANE", true)));
    CCompareDlg dlg;
    QSignalSpy done(&dlg, &CCompareDlg::compared);
    dlg.openFiles(left, right);
    QVERIFY(done.wait(60000));
    QCOMPARE(dlg.leftTree()->topLevelItemCount(), 4);
    QCOMPARE(dlg.rightTree()->topLevelItemCount(), 4);
    QCOMPARE(dlg.leftTree()->topLevelItem(3)->text(0), QString("(absent)"));
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(dlg.leftTree()->topLevelItem(i)->childCount(),
               dlg.rightTree()->topLevelItem(i)->childCount());
    }
    QVERIFY(dlg.summaryText().startsWith("3 of 4 records differ"));
  }

  void unreadableFilesShowTheReason() {
    const QString text = dir_.filePath("notes.nst");
    QVERIFY(writeFile(text, "this is not a transaction"));
    CViewerDlg viewer(shell_);
    QVERIFY(!openInViewer(viewer, text));
    QVERIFY(viewer.errorText().contains("not a well-formed transaction"));
    QVERIFY(!openInViewer(viewer, dir_.filePath("missing.nst")));
    QVERIFY(viewer.errorText().contains("cannot be opened"));
    QCOMPARE(viewer.tree()->topLevelItemCount(), 0);
  }

  void viewingLeavesTheFileAsItWas() {
    const QString file = dir_.filePath("kept.an2");
    QVERIFY(writeFile(file, sample("DOE,JOHN", false)));
    const QByteArray before = readAll(file);
    {
      CViewerDlg viewer(shell_);
      QVERIFY(openInViewer(viewer, file));
      QSignalSpy shown(&viewer, &CViewerDlg::imageShown);
      viewer.selectRecord(2);
      QVERIFY(shown.wait(60000));
      viewer.tree()->expandAll();
    }
    QCOMPARE(readAll(file), before);
  }

  void droppedFileOpens() {
    const QString file = dir_.filePath("dropped.an2");
    QVERIFY(writeFile(file, sample("DOE,JOHN", false)));
    DropTarget viewer(shell_);
    QSignalSpy loaded(&viewer, &CViewerDlg::transactionLoaded);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    viewer.dropEvent(&drop);
    QVERIFY(loaded.wait(60000));
    QCOMPARE(viewer.tree()->topLevelItemCount(), 3);
  }

  void runFilesPairWithTheirOutputs() {
    QTemporaryDir run;
    QDir d(run.path());
    QVERIFY(d.mkpath("in") && d.mkpath("out"));
    for (const char* name :
         {"in/a.nst", "in/b.eft", "in/c.an2", "in/d.nst", "in/notes.txt", "out/a.nst", "out/b.nst",
          "out/c_converted.an2", "out/d_x.nst", "out/d-y.nst"}) {
      QVERIFY(writeFile(d.filePath(name), "x"));
    }
    const auto files =
        pairRunFiles(d.filePath("in").toStdString(), d.filePath("out").toStdString());
    QCOMPARE(files.size(), std::size_t{4});
    const QString out = d.filePath("out") + "/";
    QCOMPARE(QString::fromStdString(files[0].output), out + "a.nst");
    QCOMPARE(QString::fromStdString(files[1].output), out + "b.nst");
    QCOMPARE(QString::fromStdString(files[2].output), out + "c_converted.an2");
    QVERIFY(files[3].output.empty());  // two candidates: none is guessed
  }

  void finishedRunOffersViewAndCompare() {
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QTemporaryDir run;
    QDir d(run.path());
    QVERIFY(d.mkpath("in") && d.mkpath("out"));
    QVERIFY(writeFile(d.filePath("in/one.nst"), sample("DOE,JOHN", false)));
    QVERIFY(writeFile(d.filePath("rules.ntx"), "Add Field|2.018|DOE,JANE|||\n"));
    FakeShell shell;
    shell.answers = {FakeShell::Answer::kNo};  // do not open the report
    CvarnelDlg w(shell);
    QVERIFY(!w.runFiles()->isVisibleTo(&w));
    w.sourceEdit()->setText(d.filePath("in"));
    w.destinationEdit()->setText(d.filePath("out"));
    w.ruleEdit()->setText(d.filePath("rules.ntx"));
    QSignalSpy done(&w, &CvarnelDlg::conversionFinished);
    w.convert();
    QVERIFY(done.wait(60000));
    QVERIFY(w.runFiles()->isVisibleTo(&w));
    QTableWidget* table = w.runFiles()->table();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 1)->text(), QString("one.nst"));
    QPushButton* compare = nullptr;
    for (auto* b : table->cellWidget(0, 2)->findChildren<QPushButton*>()) {
      if (b->text() == "Compare") compare = b;
    }
    QVERIFY(compare != nullptr);
    QTest::mouseClick(compare, Qt::LeftButton);
    auto* dlg = w.runFiles()->findChild<CCompareDlg*>();
    QVERIFY(dlg != nullptr);
    QSignalSpy compared(dlg, &CCompareDlg::compared);
    QVERIFY(compared.wait(60000));
    QVERIFY(dlg->summaryText().startsWith("1 of 3 records differ"));
  }

  void mainWindowFileMenuOpensTheViewer() {
    const QString file = dir_.filePath("menu.an2");
    QVERIFY(writeFile(file, sample("DOE,JOHN", false)));
    FakeShell shell;
    shell.picks = {file};
    CvarnelDlg w(shell);
    w.viewTransaction();
    auto* viewer = w.findChild<CViewerDlg*>();
    QVERIFY(viewer != nullptr);
    QSignalSpy loaded(viewer, &CViewerDlg::transactionLoaded);
    QVERIFY(loaded.wait(60000));
    QCOMPARE(viewer->records().size(), std::size_t{3});
  }

  void closingWhileDecodingWaitsForTheWorker() {
    auto* viewer = new CViewerDlg(shell_);
    QVERIFY(openInViewer(*viewer, corpus("nist-reference/type-14-tpcard-nqm.an2")));
    viewer->selectRecord(12);
    delete viewer;  // must neither crash nor leak under the sanitizers
  }
};

QTEST_MAIN(ViewerTest)
#include "viewer_test.moc"
