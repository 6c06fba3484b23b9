// The scene-graph backend the program picks for the machine it runs on.
#include "SceneGraphBackend.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtTest>

using sceneGraphBackend::Choice;
using sceneGraphBackend::Machine;

class TestSceneGraphBackend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void choice_data()
    {
        QTest::addColumn<Machine>("machine");
        QTest::addColumn<bool>("software");
        const auto x11 = [](bool direct) {
            Machine machine;
            machine.platform = QStringLiteral("xcb");
            machine.xDirectRendering = direct;
            return machine;
        };
        const auto wayland = [](bool renderNode) {
            Machine machine;
            machine.platform = QStringLiteral("wayland");
            machine.renderNode = renderNode;
            return machine;
        };
        QTest::newRow("X11 with a GPU") << x11(true) << false;
        QTest::newRow("X11 without direct rendering (Xvfb, VNC, ssh)") << x11(false) << true;
        QTest::newRow("Wayland with a render node") << wayland(true) << false;
        QTest::newRow("Wayland without one") << wayland(false) << true;
        Machine egl = wayland(false);
        egl.platform = QStringLiteral("wayland-egl");
        QTest::newRow("wayland-egl without a render node") << egl << true;

        Machine forced = x11(true);
        forced.libglAlwaysSoftware = QStringLiteral("1");
        QTest::newRow("LIBGL_ALWAYS_SOFTWARE=1 on a GPU") << forced << true;
        forced.libglAlwaysSoftware = QStringLiteral("0");
        QTest::newRow("LIBGL_ALWAYS_SOFTWARE=0 on a GPU") << forced << false;
        forced.libglAlwaysSoftware = QStringLiteral("false");
        QTest::newRow("LIBGL_ALWAYS_SOFTWARE=false on a GPU") << forced << false;
        Machine gallium = x11(true);
        gallium.galliumDriver = QStringLiteral("llvmpipe");
        QTest::newRow("GALLIUM_DRIVER=llvmpipe") << gallium << true;
        gallium.galliumDriver = QStringLiteral("softpipe");
        QTest::newRow("GALLIUM_DRIVER=softpipe") << gallium << true;
        gallium.galliumDriver = QStringLiteral("radeonsi");
        QTest::newRow("GALLIUM_DRIVER=radeonsi") << gallium << false;

        Machine chosen = x11(false);
        chosen.userChoseBackend = true;
        QTest::newRow("the user's own backend stands") << chosen << false;
        chosen.libglAlwaysSoftware = QStringLiteral("1");
        QTest::newRow("the user's own backend stands over LIBGL") << chosen << false;

        Machine offscreen;
        offscreen.platform = QStringLiteral("offscreen");
        QTest::newRow("offscreen keeps Qt's choice") << offscreen << false;
    }
    void choice()
    {
        QFETCH(Machine, machine);
        QFETCH(bool, software);
        QCOMPARE(sceneGraphBackend::choose(machine) == Choice::software, software);
    }

    // The real window on the display the test runs on: an X server without
    // direct rendering (Xvfb) gets the software backend, drawing the window.
    void realWindowOnXvfb()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X display");
        if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") || !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
            QSKIP("the environment chooses the backend");
        sceneGraphBackend::applyToApplication();
        QQmlApplicationEngine engine;
        engine.loadData("import QtQuick\nWindow { width: 200; height: 100; visible: true;"
                        " Rectangle { anchors.fill: parent; anchors.margins: 20; radius: 10; color: \"#f8e7b0\" } }");
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->rendererInterface()->graphicsApi(), QSGRendererInterface::Software);
        const QImage shown = window->grabWindow();
        QCOMPARE(shown.pixelColor(100, 50), QColor(QStringLiteral("#f8e7b0")));
        // The rounded corner leaves the window's own background.
        QVERIFY(shown.pixelColor(21, 21) != QColor(QStringLiteral("#f8e7b0")));
    }
};

QTEST_MAIN(TestSceneGraphBackend)
#include "tst_scenegraph_backend.moc"
