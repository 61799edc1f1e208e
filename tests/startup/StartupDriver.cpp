// A Qt generic plugin that plays the user of the real lmx207 program from outside. Loaded into the
// child only through QT_QPA_GENERIC_PLUGINS, it prints every top-level window as it is shown
// ("class | title", and a message box's text), confirms message boxes, and answers the login as
// LMX207_DRIVE says: "escape" presses Escape, "exit" clicks the exit button (57665).

#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

class StartupDriver : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "StartupDriver.json")
public:
    QObject* create(const QString&, const QString&) override {
        qApp->installEventFilter(this);
        return this;
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        QStringList seen = {window->metaObject()->className(), window->windowTitle()};
        if (auto* box = qobject_cast<QMessageBox*>(window)) {
            seen << box->text();
            QTimer::singleShot(0, box, &QMessageBox::accept);
        }
        std::printf("%s\n", qPrintable(seen.join(" | ")));
        std::fflush(stdout);
        if (seen[0] == "CLoginDlg" && qgetenv("LMX207_DRIVE") == "exit")
            QTimer::singleShot(0, window->findChild<QAbstractButton*>("ctl57665"), &QAbstractButton::click);
        else if (seen[0] == "CLoginDlg")
            QApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        return false;
    }
};

#include "StartupDriver.moc"
