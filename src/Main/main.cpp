// Program entry: the application object with its title, the main window,
// the event loop.
#include "MainForm.h"
#include "WidgetHost.h"

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <exception>

namespace {

// Every handler runs inside the general error handler; this is the last
// line behind it, so that an exception never unwinds through the event loop.
class BmsApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            qCritical("%s", e.what());
        } catch (...) {
            qCritical("unknown exception in an event handler");
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    BmsApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(bms::kApplicationTitle));
    // The installed desktop entry and icon (quorlex-bms.desktop); without them
    // the window has no icon, as before.
    QGuiApplication::setDesktopFileName(QStringLiteral("quorlex-bms"));
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quorlex-bms")));
    MainForm form;
    if (const QScreen* screen = form.screen())
        form.fitToScreen(screen->availableGeometry());
    form.show();
    return app.exec();
}
