// SPDX-License-Identifier: MIT
#ifndef WIDGETFORM_H
#define WIDGETFORM_H

#include <QtGlobal>

QT_BEGIN_NAMESPACE
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
QT_END_NAMESPACE

// The window's controls, placed by hand the way a designer form would be.
struct WidgetForm
{
    QFrame *line;
    QPushButton *pushButton;
    QLineEdit *lineEdit_ip;
    QLineEdit *lineEdit_port;
    QLabel *label;
    QLabel *label_2;
    QPushButton *CatptureBtn;

    void setupUi(QWidget *Widget);
    void retranslateUi(QWidget *Widget);
};

#endif // WIDGETFORM_H
