#ifndef ORVEX_H
#define ORVEX_H

#include <QWidget>

// The class's layout depends on the program's overlay: only files compiled
// once per program may include this.
#ifndef ORVEX_OVERLAY
#error "ORVEX_OVERLAY must be 0 (picture only), 1 (crosshair) or 2 (crosshair and frame rate)"
#endif

#if ORVEX_OVERLAY >= 2
#include <QTime>
#endif

QT_BEGIN_NAMESPACE
class QImage;
QT_END_NAMESPACE

// Shows the newest camera picture, with this program's overlay on top.
class Orvex : public QWidget
{
    Q_OBJECT

public:
    explicit Orvex(QWidget *parent);
    ~Orvex() override;

    // Decodes one frame; data need not outlive the call.
    void showFrame(const char *data, int length);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage *image;
#if ORVEX_OVERLAY >= 2
    QTime lastTime;
#endif
};

#endif // ORVEX_H
