#pragma once

#include <QDialog>
#include <QString>

namespace varnel::app {

/// The program version text, "3.3.0.0".
[[nodiscard]] QString programVersion();

/// The About box ("About Varnel"): the version line and the banners of the libraries.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  /// "Varnel, Version 3.3.0.0 (64 bit)", with the word size of this build.
  [[nodiscard]] static QString versionLine();
  /// The transaction library banner, the codec banner and the fingerprint line, one per line.
  [[nodiscard]] static QString bannerText();
};

}  // namespace varnel::app
