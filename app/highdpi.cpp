#include "highdpi.h"

#include <QGuiApplication>

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    // Rounded, 150 % would become 200 %: too large for the 1080-line screens
    // that most often ask for 150 %.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
