// SPDX-License-Identifier: MIT
#include "mainrunner.h"
#include "orvex.h"
#include "widget.h"
#include "widgetform.h"
#include "widgettestaccess.h"

#include <QFrame>
#include <QHostAddress>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <QtTest>

namespace {

// Marks every text looked up in the window's translation context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "Widget") != 0)
            return QString();
        return QLatin1Char('<') + QString::fromUtf8(sourceText) + QLatin1Char('>');
    }
    bool isEmpty() const override { return false; }
};

QWidget *formWidget(WidgetForm *form, int index)
{
    QWidget *const widgets[]
        = {form->line,  form->pushButton, form->lineEdit_ip, form->lineEdit_port,
           form->label, form->label_2,    form->CatptureBtn};
    return widgets[index];
}

QString visibleText(QWidget *widget)
{
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    return QString();
}

bool isPrivateIPv4(const QHostAddress &address)
{
    return address.isInSubnet(QHostAddress(QStringLiteral("10.0.0.0")), 8)
        || address.isInSubnet(QHostAddress(QStringLiteral("172.16.0.0")), 12)
        || address.isInSubnet(QHostAddress(QStringLiteral("192.168.0.0")), 16);
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

public:
    explicit TestWindow(const MainRun &mainRun) : mainRun(mainRun) { }

private slots:
    void metaObject();
    void connectByNameWarnsAboutSocketSlots();
    void formWidgets_data();
    void formWidgets();
    void creationOrder();
    void separatorLine();
    void windowProperties();
    void formSetUpKeepsGivenNameAndHeightForWidth();
    void textsGoThroughTranslation();
    void editFieldsAcceptAnyText_data();
    void editFieldsAcceptAnyText();
    void defaultAddressIsPrivateIPv4Literal();
    void initialState();
    void viewPlacement();
    void mainPreparesAndRunsWindow();
    void captureClickArmsSnapshot();
    void startClickWithInvalidPortStaysOffline();
    void startClickConnectsToLoopback();
    void destructionClosesConnection();
    void tabGoesThroughFormInReadingOrder();
    void enterInFieldOnlyConnects_data();
    void enterInFieldOnlyConnects();

private:
    const MainRun mainRun;
};

void TestWindow::metaObject()
{
    const QMetaObject &meta = Widget::staticMetaObject;
    QCOMPARE(meta.className(), "Widget");
    QCOMPARE(meta.superClass(), &QWidget::staticMetaObject);

    const char *const slotNames[] = {"on_socket_read", "on_socket_disconnected",
                                     "on_pushButton_clicked", "on_CatptureBtn_clicked"};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 4);
    for (int i = 0; i < 4; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.name(), QByteArray(slotNames[i]));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterCount(), 0);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
    }
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
}

// Plain warnings, which Qt's message handler prints bare: no logging category
// in front of them, under Qt 6 as under Qt 5, once main has set up logging.
void TestWindow::connectByNameWarnsAboutSocketSlots()
{
    const QString noSignal = QString::number(QtWarningMsg)
        + " default: QMetaObject::connectSlotsByName: No matching signal for ";
    QCOMPARE(mainRun.log.filter("connectSlotsByName"),
             QStringList({noSignal + "on_socket_read()", noSignal + "on_socket_disconnected()"}));
}

void TestWindow::formWidgets_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    // What a screen reader calls the widget: a field by its label.
    QTest::addColumn<QString>("accessibleName");

    QTest::newRow("line") << 0 << "line" << QByteArray("QFrame") << QRect(0, 490, 650, 3)
                          << QString() << QString();
    QTest::newRow("pushButton") << 1 << "pushButton" << QByteArray("QPushButton")
                                << QRect(420, 500, 100, 27) << "Start" << QString();
    QTest::newRow("lineEdit_ip") << 2 << "lineEdit_ip" << QByteArray("QLineEdit")
                                 << QRect(80, 500, 151, 27) << QStringLiteral(ORVEX_DEFAULT_ADDRESS)
                                 << "IP:";
    QTest::newRow("lineEdit_port")
        << 3 << "lineEdit_port" << QByteArray("QLineEdit") << QRect(310, 500, 91, 27) << "5000"
        << "Port:";
    QTest::newRow("label") << 4 << "label" << QByteArray("QLabel") << QRect(50, 505, 21, 17)
                           << "IP:" << QString();
    QTest::newRow("label_2") << 5 << "label_2" << QByteArray("QLabel") << QRect(260, 505, 41, 17)
                             << "Port:" << QString();
    QTest::newRow("CatptureBtn") << 6 << "CatptureBtn" << QByteArray("QPushButton")
                                 << QRect(530, 500, 100, 27) << "Capture" << QString();
}

void TestWindow::formWidgets()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QByteArray, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, accessibleName);

    Widget w;
    QWidget *widget = formWidget(WidgetTestAccess::form(w), index);
    QVERIFY(widget);
    QCOMPARE(widget->objectName(), name);
    QCOMPARE(w.findChild<QWidget *>(name, Qt::FindDirectChildrenOnly), widget);
    QCOMPARE(QByteArray(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(visibleText(widget), text);
    QCOMPARE(widget->accessibleName(), accessibleName);
}

void TestWindow::creationOrder()
{
    Widget w;
    QStringList order;
    for (QObject *child : w.children())
        order << (child->objectName().isEmpty()
                      ? QString::fromLatin1(child->metaObject()->className())
                      : child->objectName());
    const QStringList expected {"line",  "pushButton", "lineEdit_ip", "lineEdit_port",
                                "label", "label_2",    "CatptureBtn", "Orvex"};
    QCOMPARE(order, expected);
}

void TestWindow::separatorLine()
{
    Widget w;
    QFrame *line = WidgetTestAccess::form(w)->line;
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->frameShadow(), QFrame::Sunken);
}

void TestWindow::windowProperties()
{
    Widget w;
    QCOMPARE(w.objectName(), QStringLiteral("Widget"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Orvex"));
    QCOMPARE(w.size(), QSize(650, 540));
    QVERIFY(w.isWindow());

    const QSizePolicy policy = w.sizePolicy();
    QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(policy.verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);

    QCOMPARE(w.layout(), nullptr);
    QVERIFY(w.findChildren<QLayout *>().isEmpty());
}

void TestWindow::formSetUpKeepsGivenNameAndHeightForWidth()
{
    QWidget host;
    host.setObjectName(QStringLiteral("host"));
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setHeightForWidth(true);
    host.setSizePolicy(policy);

    WidgetForm form;
    form.setupUi(&host);

    QCOMPARE(host.objectName(), QStringLiteral("host"));
    QCOMPARE(host.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QVERIFY(host.sizePolicy().hasHeightForWidth());
}

void TestWindow::textsGoThroughTranslation()
{
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    Widget w;
    QCoreApplication::removeTranslator(&translator);

    WidgetForm *form = WidgetTestAccess::form(w);
    QCOMPARE(w.windowTitle(), QStringLiteral("<Orvex>"));
    QCOMPARE(form->pushButton->text(), QStringLiteral("<Start>"));
    QCOMPARE(form->lineEdit_ip->text(), QStringLiteral("<" ORVEX_DEFAULT_ADDRESS ">"));
    QCOMPARE(form->lineEdit_port->text(), QStringLiteral("<5000>"));
    QCOMPARE(form->label->text(), QStringLiteral("<IP:>"));
    QCOMPARE(form->label_2->text(), QStringLiteral("<Port:>"));
    QCOMPARE(form->CatptureBtn->text(), QStringLiteral("<Capture>"));
}

void TestWindow::editFieldsAcceptAnyText_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("lineEdit_ip") << 2;
    QTest::newRow("lineEdit_port") << 3;
}

void TestWindow::editFieldsAcceptAnyText()
{
    QFETCH(int, index);
    Widget w;
    auto *edit = qobject_cast<QLineEdit *>(formWidget(WidgetTestAccess::form(w), index));
    QVERIFY(edit);
    QCOMPARE(edit->validator(), nullptr);
    QVERIFY(edit->inputMask().isEmpty());

    const QString anything = QStringLiteral("not an address, not a port: ") + QString(300, 'x');
    edit->setText(anything);
    QCOMPARE(edit->text(), anything);
}

void TestWindow::defaultAddressIsPrivateIPv4Literal()
{
    Widget w;
    const QString text = WidgetTestAccess::form(w)->lineEdit_ip->text();
    QCOMPARE(text, QStringLiteral(ORVEX_DEFAULT_ADDRESS));

    QHostAddress address;
    QVERIFY2(address.setAddress(text), qPrintable(text));
    QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
    QCOMPARE(address.toString(), text);
    QVERIFY2(isPrivateIPv4(address), qPrintable(text));
}

void TestWindow::initialState()
{
    Widget w;
    QCOMPARE(WidgetTestAccess::frameLength(w), 0);
    QCOMPARE(WidgetTestAccess::inFrame(w), 0);
    QCOMPARE(WidgetTestAccess::markerState(w), 0);
    QCOMPARE(WidgetTestAccess::captureRequested(w), false);
    QCOMPARE(WidgetTestAccess::captureCount(w), 0);

    QVERIFY(w.hasFrameBuffers());
    QVERIFY(WidgetTestAccess::frameBuffer(w));
    QVERIFY(WidgetTestAccess::displayBuffer(w));
    QVERIFY(WidgetTestAccess::frameBuffer(w) != WidgetTestAccess::displayBuffer(w));

    QTcpSocket *socket = WidgetTestAccess::socket(w);
    QVERIFY(socket);
    QCOMPARE(socket->parent(), nullptr);
    QCOMPARE(socket->state(), QAbstractSocket::UnconnectedState);

    QVERIFY(WidgetTestAccess::form(w)->CatptureBtn->isEnabled());
    QVERIFY(WidgetTestAccess::form(w)->pushButton->isEnabled());
}

void TestWindow::viewPlacement()
{
    Widget w;
    Orvex *view = WidgetTestAccess::view(w);
    QVERIFY(view);
    QCOMPARE(view->metaObject()->className(), "Orvex");
    QCOMPARE(view->parentWidget(), &w);
    QCOMPARE(view->windowType(), Qt::Widget);
    QCOMPARE(view->geometry(), QRect(0, 0, 640, 480));
    QCOMPARE(view->minimumSize(), QSize(640, 480));
    QCOMPARE(view->maximumSize(), QSize(640, 480));
}

// mainRun comes from the program's own main, run before this test object existed.
void TestWindow::mainPreparesAndRunsWindow()
{
    QVERIFY(mainRun.loopStarted);
    QCOMPARE(mainRun.result, 42);
    QCOMPARE(mainRun.windowCount, 1);
    QCOMPARE(mainRun.className, QStringLiteral("Widget"));
    QVERIFY(mainRun.visible);

    Widget fresh;
    const Qt::WindowFlags before = fresh.windowFlags();
    // Without the hint set to begin with, clearing it would prove nothing.
    QVERIFY(before.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(mainRun.flags, before & ~Qt::WindowMaximizeButtonHint);

    QCOMPARE(mainRun.size, QSize(650, 540));
    QCOMPARE(mainRun.minimumSize, QSize(650, 540));
    QCOMPARE(mainRun.maximumSize, QSize(650, 540));
    QCOMPARE(mainRun.sizeAfterResize, QSize(650, 540));
}

void TestWindow::captureClickArmsSnapshot()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPushButton *capture = WidgetTestAccess::form(w)->CatptureBtn;

    QTest::mouseClick(capture, Qt::LeftButton);
    QVERIFY(WidgetTestAccess::captureRequested(w));
    QVERIFY(!capture->isEnabled());
    QCOMPARE(WidgetTestAccess::captureCount(w), 0);
}

void TestWindow::startClickWithInvalidPortStaysOffline()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WidgetForm *form = WidgetTestAccess::form(w);
    // Never let a click here reach for the default camera address.
    form->lineEdit_ip->setText(QStringLiteral("127.0.0.1"));
    form->lineEdit_port->setText(QStringLiteral("0"));

    QTest::ignoreMessage(QtDebugMsg, "Connection failed!");
    QTest::mouseClick(form->pushButton, Qt::LeftButton);
    QCOMPARE(WidgetTestAccess::socket(w)->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(form->pushButton->text(), QStringLiteral("Start"));
}

void TestWindow::startClickConnectsToLoopback()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WidgetForm *form = WidgetTestAccess::form(w);
    form->lineEdit_ip->setText(QStringLiteral("127.0.0.1"));
    form->lineEdit_port->setText(QString::number(server.serverPort()));

    QTest::ignoreMessage(QtDebugMsg, "Connection successfully!");
    QTest::mouseClick(form->pushButton, Qt::LeftButton);
    QCOMPARE(WidgetTestAccess::socket(w)->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(form->pushButton->text(), QStringLiteral("Stop"));
    QVERIFY(server.waitForNewConnection(5000));
}

void TestWindow::destructionClosesConnection()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));

    auto *w = new Widget;
    WidgetForm *form = WidgetTestAccess::form(*w);
    form->lineEdit_ip->setText(QStringLiteral("127.0.0.1"));
    form->lineEdit_port->setText(QString::number(server.serverPort()));
    QTest::ignoreMessage(QtDebugMsg, "Connection successfully!");
    form->pushButton->click();
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(peer);
    QSignalSpy peerClosed(peer, &QTcpSocket::disconnected);

    delete w;
    QVERIFY(peerClosed.count() > 0 || peerClosed.wait(5000));
}

void TestWindow::tabGoesThroughFormInReadingOrder()
{
    Widget w;
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    WidgetForm *form = WidgetTestAccess::form(w);
    form->lineEdit_ip->setFocus();

    const QWidget *const expected[]
        = {form->lineEdit_port, form->pushButton, form->CatptureBtn, form->lineEdit_ip};
    for (const QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TestWindow::enterInFieldOnlyConnects_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("connectedBefore");
    QTest::addColumn<bool>("buttonEnabled");
    QTest::addColumn<bool>("connectedAfter");

    QTest::newRow("address field, idle") << 2 << false << true << true;
    QTest::newRow("port field, idle") << 3 << false << true << true;
    QTest::newRow("address field, streaming") << 2 << true << true << true;
    QTest::newRow("port field, streaming") << 3 << true << true << true;
    QTest::newRow("port field, button disabled") << 3 << false << false << false;
}

// Enter is the form's way to say Start; it never stops a running stream.
void TestWindow::enterInFieldOnlyConnects()
{
    QFETCH(int, index);
    QFETCH(bool, connectedBefore);
    QFETCH(bool, buttonEnabled);
    QFETCH(bool, connectedAfter);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Widget w;
    WidgetForm *form = WidgetTestAccess::form(w);
    form->lineEdit_ip->setText(QStringLiteral("127.0.0.1"));
    form->lineEdit_port->setText(QString::number(server.serverPort()));
    if (connectedBefore) {
        QTest::ignoreMessage(QtDebugMsg, "Connection successfully!");
        form->pushButton->click();
        QVERIFY(server.waitForNewConnection(5000));
        QVERIFY(server.nextPendingConnection());
    }
    form->pushButton->setEnabled(buttonEnabled);

    if (connectedAfter && !connectedBefore)
        QTest::ignoreMessage(QtDebugMsg, "Connection successfully!");
    QTest::keyClick(formWidget(form, index), Qt::Key_Return);

    const auto state = WidgetTestAccess::socket(w)->state();
    QCOMPARE(state == QAbstractSocket::ConnectedState, connectedAfter);
    QCOMPARE(form->pushButton->text(), connectedAfter ? QStringLiteral("Stop") : "Start");
    // A connect made here is complete: the server can take it without waiting.
    QCOMPARE(server.waitForNewConnection(0), connectedAfter && !connectedBefore);
}

int main(int argc, char *argv[])
{
    const MainRun mainRun = runMain(argv[0], 42);

    QApplication app(argc, argv);
    TestWindow test(mainRun);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
