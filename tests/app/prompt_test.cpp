// The text prompt: how it confirms, cancels, limits its text and moves the focus.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/prompt_box.h"

using varnel::app::PromptBox;

class PromptTest : public QObject {
  Q_OBJECT

 private:
  static void showAndActivate(PromptBox& box) {
    box.show();
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
  }

 private slots:
  void startsCancelledWithCaptionAndSize() {
    PromptBox box(nullptr, "Enter the agency");
    QCOMPARE(box.answer(), QString("%%CANCELLED%%"));
    QCOMPARE(box.windowTitle(), QString("Varnel - Prompt"));
    QCOMPARE(box.size(), QSize(500, 170));
    QCOMPARE(box.confirmButton()->text(), QString("Confirm"));
    QCOMPARE(box.cancelButton()->text(), QString("Cancel"));
  }

  void longPromptIsShownWhole() {
    QString prompt;
    for (int i = 0; i < 30; ++i) prompt += QString("Enter the originating agency code %1, ").arg(i);
    PromptBox box(nullptr, prompt);
    showAndActivate(box);
    auto* label = box.findChild<QLabel*>("promptLabel");
    QVERIFY(label != nullptr);
    QVERIFY(box.width() >= 500);
    QVERIFY2(label->height() >= label->heightForWidth(label->width()),
             qPrintable(QString("label %1 high, text needs %2")
                            .arg(label->height())
                            .arg(label->heightForWidth(label->width()))));
    QVERIFY(box.edit()->geometry().top() >= label->geometry().bottom());
  }

  void escapeCancelButtonAndCloseLeaveCancelled() {
    {
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::keyClicks(box.edit(), "typed");
      QTest::keyClick(box.edit(), Qt::Key_Escape);
      QCOMPARE(box.result(), int(QDialog::Rejected));
      QCOMPARE(box.answer(), QString("%%CANCELLED%%"));
    }
    {
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::keyClicks(box.edit(), "typed");
      QTest::mouseClick(box.cancelButton(), Qt::LeftButton);
      QCOMPARE(box.answer(), QString("%%CANCELLED%%"));
    }
    {
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::keyClicks(box.edit(), "typed");
      box.close();
      QVERIFY(!box.isVisible());
      QCOMPARE(box.answer(), QString("%%CANCELLED%%"));
    }
  }

  void enterAndConfirmTakeTheText() {
    {
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::keyClicks(box.edit(), "ORI 12345");
      QTest::keyClick(box.edit(), Qt::Key_Return);
      QCOMPARE(box.result(), int(QDialog::Accepted));
      QCOMPARE(box.answer(), QString("ORI 12345"));
    }
    {
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::mouseClick(box.confirmButton(), Qt::LeftButton);
      QCOMPARE(box.answer(), QString(""));  // an empty confirmed answer is not a cancel
    }
    {
      // Enter confirms even when the focus is on "Cancel".
      PromptBox box(nullptr, "q");
      showAndActivate(box);
      QTest::keyClicks(box.edit(), "x");
      box.cancelButton()->setFocus();
      QTest::keyClick(box.cancelButton(), Qt::Key_Return);
      QCOMPARE(box.answer(), QString("x"));
    }
  }

  void textIsCutAt319Characters() {
    PromptBox box(nullptr, "q");
    showAndActivate(box);
    const QString longText(400, QChar('a'));
    QTest::keyClicks(box.edit(), longText);
    QTest::keyClick(box.edit(), Qt::Key_Enter);
    QCOMPARE(box.answer().size(), 319);
    PromptBox exact(nullptr, "q");
    showAndActivate(exact);
    exact.edit()->setText(QString(319, QChar('b')));
    QTest::keyClick(exact.edit(), Qt::Key_Return);
    QCOMPARE(exact.answer(), QString(319, QChar('b')));
  }

  void tabCyclesEditConfirmCancel() {
    PromptBox box(nullptr, "q");
    showAndActivate(box);
    QCOMPARE(QApplication::focusWidget(), box.edit());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box.confirmButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box.cancelButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box.edit());
  }
};

QTEST_MAIN(PromptTest)
#include "prompt_test.moc"
