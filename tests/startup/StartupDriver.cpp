// A Qt generic plugin that plays the user of the real lmx207 program from outside: loaded into the
// child only through QT_QPA_GENERIC_PLUGINS, it prints every top-level window as it is shown
// ("class | title", and a message box's icon and text), confirms message boxes, and answers the
// login as LMX207_DRIVE says: "escape" presses Escape, "exit" clicks the exit button (57665).

#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaEnum>
#include <QTimer>

#include <cstdio>

namespace {

class Driver : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        QStringList seen = {window->metaObject()->className(), window->windowTitle()};
        if (auto* box = qobject_cast<QMessageBox*>(window)) {
            seen << QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()) << box->text();
            QTimer::singleShot(0, box, &QMessageBox::accept);
        }
        std::printf("%s\n", qPrintable(seen.join(QStringLiteral(" | "))));
        std::fflush(stdout);
        if (qstrcmp(window->metaObject()->className(), "CLoginDlg") == 0)
            QTimer::singleShot(0, window, [window] { answerLogin(window); });
        return false;
    }

    static void answerLogin(QWidget* login) {
        const QByteArray how = qgetenv("LMX207_DRIVE");
        if (how == "escape")
            QApplication::postEvent(login, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        else if (auto* exit = login->findChild<QAbstractButton*>(QStringLiteral("ctl57665"));
                 how == "exit" && exit)
            exit->click();
    }
};

} // namespace

class StartupDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "StartupDriver.json")
public:
    QObject* create(const QString&, const QString&) override {
        auto* driver = new Driver;
        qApp->installEventFilter(driver);
        return driver;
    }
};

#include "StartupDriver.moc"
