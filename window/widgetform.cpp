// SPDX-License-Identifier: MIT
#include "widgetform.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QWidget>

#ifndef ORVEX_DEFAULT_ADDRESS
#error "ORVEX_DEFAULT_ADDRESS must name the camera address shown at start"
#endif

void WidgetForm::setupUi(QWidget *Widget)
{
    if (Widget->objectName().isEmpty())
        Widget->setObjectName(QString::fromUtf8("Widget"));
    Widget->resize(650, 540);
    QSizePolicy sizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sizePolicy.setHorizontalStretch(0);
    sizePolicy.setVerticalStretch(0);
    sizePolicy.setHeightForWidth(Widget->sizePolicy().hasHeightForWidth());
    Widget->setSizePolicy(sizePolicy);

    line = new QFrame(Widget);
    line->setObjectName(QString::fromUtf8("line"));
    line->setGeometry(QRect(0, 490, 650, 3));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    pushButton = new QPushButton(Widget);
    pushButton->setObjectName(QString::fromUtf8("pushButton"));
    pushButton->setGeometry(QRect(420, 500, 100, 27));

    lineEdit_ip = new QLineEdit(Widget);
    lineEdit_ip->setObjectName(QString::fromUtf8("lineEdit_ip"));
    lineEdit_ip->setGeometry(QRect(80, 500, 151, 27));

    lineEdit_port = new QLineEdit(Widget);
    lineEdit_port->setObjectName(QString::fromUtf8("lineEdit_port"));
    lineEdit_port->setGeometry(QRect(310, 500, 91, 27));

    label = new QLabel(Widget);
    label->setObjectName(QString::fromUtf8("label"));
    label->setGeometry(QRect(50, 505, 21, 17));

    label_2 = new QLabel(Widget);
    label_2->setObjectName(QString::fromUtf8("label_2"));
    label_2->setGeometry(QRect(260, 505, 41, 17));

    CatptureBtn = new QPushButton(Widget);
    CatptureBtn->setObjectName(QString::fromUtf8("CatptureBtn"));
    CatptureBtn->setGeometry(QRect(530, 500, 100, 27));

    retranslateUi(Widget);

    QMetaObject::connectSlotsByName(Widget);
}

void WidgetForm::retranslateUi(QWidget *Widget)
{
    Widget->setWindowTitle(QCoreApplication::translate("Widget", "Orvex"));
    pushButton->setText(QCoreApplication::translate("Widget", "Start"));
    lineEdit_ip->setText(QCoreApplication::translate("Widget", ORVEX_DEFAULT_ADDRESS));
    lineEdit_port->setText(QCoreApplication::translate("Widget", "5000"));
    label->setText(QCoreApplication::translate("Widget", "IP:"));
    label_2->setText(QCoreApplication::translate("Widget", "Port:"));
    CatptureBtn->setText(QCoreApplication::translate("Widget", "Capture"));
}
