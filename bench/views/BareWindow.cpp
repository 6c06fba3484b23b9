// The floor for start-up and memory: a Qt Quick window of the application's
// size with one line of text and nothing else.
#include <QGuiApplication>
#include <QQuickView>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl(QStringLiteral("qrc:/BareWindow.qml")));
    view.resize(1100, 800);
    view.show();
    return QGuiApplication::exec();
}
