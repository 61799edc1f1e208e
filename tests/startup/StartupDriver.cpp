// A Qt generic plugin that plays the user of the real lmx207 program from outside. Loaded into the
// child only by its "-plugin lmx207driver:<how>" argument, it prints every top-level window as it
// is shown ("class | title", and a message box's text), confirms message boxes, and answers the
// login as <how> says: "escape" presses Escape, "exit" presses Enter on the exit button (57665).

#include <QApplication>
#include <QGenericPlugin>
#include <QKeyEvent>
#include <QMessageBox>

#include <cstdio>

class StartupDriver : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "StartupDriver.json")
    QString m_how;

public:
    QObject* create(const QString&, const QString& how) override {
        m_how = how;
        qApp->installEventFilter(this);
        return this;
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        auto* box = qobject_cast<QMessageBox*>(window);
        std::printf("%s | %s%s\n", window->metaObject()->className(), qPrintable(window->windowTitle()),
                    box ? qPrintable(" | " + box->text()) : "");
        std::fflush(stdout);
        QWidget* exit = window->findChild<QWidget*>("ctl57665");
        if (box || (exit && m_how == "exit"))
            QApplication::postEvent(box ? box : exit, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
        else if (exit)
            QApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
        return false;
    }
};

#include "StartupDriver.moc"
