#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "imaging/wsq/wsq.h"
#include "rules/action_context.h"
#include "transaction/nist_file.h"

namespace varnel::app {
namespace {

QString banner(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

}  // namespace

QString programVersion() {
  return QString::fromUtf8(rules::kProgramVersion.data(),
                           static_cast<qsizetype>(rules::kProgramVersion.size()));
}

QString CAboutDlg::versionLine() {
  return QString("Varnel, Version %1 (%2 bit)")
      .arg(programVersion())
      .arg(static_cast<int>(sizeof(void*) * 8));
}

QString CAboutDlg::bannerText() {
  return banner(transaction::versionBanner()) + "\n" + banner(wsq::wsqBanner()) + "\n" +
         "fingerprint version - (Coming soon)";
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("aboutDlg");
  setWindowTitle("About Varnel");
  auto* icon = new QLabel(this);
  icon->setPixmap(windowIcon().isNull()
                      ? style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48)
                      : windowIcon().pixmap(48, 48));
  auto* version = new QLabel(versionLine(), this);
  version->setObjectName("versionLine");
  QFont font("Arial");
  font.setPointSize(13);
  version->setFont(font);
  auto* banners = new QLabel(bannerText(), this);
  banners->setObjectName("bannerText");
  banners->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* text = new QVBoxLayout;
  text->addWidget(version);
  text->addWidget(banners);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addLayout(text, 1);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ok);
}

}  // namespace varnel::app
