#pragma once

#include <QDialog>
#include <QString>

namespace varnel::app {

/// The program version text (the project version the build was configured with).
[[nodiscard]] QString programVersion();

/// The About box ("About Varnel"): the version line and the banners of the libraries.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  /// "Varnel, Version <program version> (64 bit)", with the word size of this build.
  [[nodiscard]] static QString versionLine();
  /// The transaction library banner, the codec banner and the fingerprint line, one per line.
  [[nodiscard]] static QString bannerText();
};

}  // namespace varnel::app
