// SPDX-License-Identifier: MIT
#include "highdpi.h"

#include <QGuiApplication>

void enableHighDpiScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales, and has deprecated the switch.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    // Rounded, 150 % would become 200 %: too large for the 1080-line screens
    // that most often ask for 150 %.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}
