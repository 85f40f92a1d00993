#pragma once

#include <QGraphicsView>
#include <QImage>
#include <vector>

#include "app/viewer_model.h"

class QGraphicsPixmapItem;
class QGraphicsItemGroup;

namespace varnel::app {

/// A QImage holding a copy of the decoded pixels (grey for 1- and 8-bit, RGB for 24-bit); a null
/// image when the depth or size is not one the layer produces.
[[nodiscard]] QImage toQImage(const imaging::RawImage& raw);

/// The image panel of the viewer: shows one image, zooms with the wheel or the commands, pans by
/// dragging, and draws minutiae over the image.
class ImageView : public QGraphicsView {
  Q_OBJECT

 public:
  explicit ImageView(QWidget* parent = nullptr);

  /// Shows `image` (scaled to fit) with `marks` over it; a null image shows `message` instead.
  void showImage(const QImage& image, const std::vector<MinutiaMark>& marks);
  /// Shows a line of text in place of an image ("Decoding...", a failure reason).
  void showMessage(const QString& message);

  /// Current scale (1 = one image pixel per screen pixel).
  [[nodiscard]] double zoom() const;
  [[nodiscard]] bool hasImage() const { return pixmap_ != nullptr; }
  /// Size of the image shown, or an empty size.
  [[nodiscard]] QSize imageSize() const;
  [[nodiscard]] int markCount() const { return markCount_; }

 public slots:
  void zoomIn();
  void zoomOut();
  void zoomToFit();
  void zoomActual();
  void setMarksVisible(bool visible);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void scaleBy(double factor);

  QGraphicsPixmapItem* pixmap_ = nullptr;
  QGraphicsItemGroup* marks_ = nullptr;
  int markCount_ = 0;
  bool fit_ = true;
  bool marksVisible_ = true;
};

}  // namespace varnel::app
