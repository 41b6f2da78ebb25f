// The live preview of one camera: the stamped picture, titled with the
// camera's friendly name. Closing it only hides it.
#pragma once

#include <QImage>
#include <QWidget>

namespace brindle {

class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewWindow(const QString& title, QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return picture_; }

  signals:
    void ClosedByUser();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QImage picture_;
};

} // namespace brindle
