// The fixture of the image-window tests: a workbench whose slots are viewed
// as the user views them, and the window's widgets by name.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QSlider>
#include <QSpinBox>

#include <string>

#include "guitest.h"
#include "tamotoolchildwindow.h"

class WindowTest : public PanelTest {
protected:
    // Views `img` from slot `index` as the user does; stdout of the opening
    // is kept in `opened`.
    TamotoolChildWindow *view(int index, TAMOHDR *img, const QString &name = "scan.tamo") {
        if (slot(index)) Tamofree(slot(index), 7);
        slot(index) = img;
        tool->imageNames[index] = name;
        select("output", index);
        testing::internal::CaptureStdout();
        QMetaObject::invokeMethod(panel, "view");
        opened = testing::internal::GetCapturedStdout();
        TamotoolChildWindow *window = panel->childWindows[index];
        EXPECT_NE(window, nullptr);
        return window;
    }

    template <class T>
    static T *child(TamotoolChildWindow *window, const char *name) {
        T *widget = window->findChild<T *>(name);
        EXPECT_NE(widget, nullptr) << "no child named " << name;
        return widget;
    }
    static QSlider *slider(TamotoolChildWindow *w, const char *name) {
        return child<QSlider>(w, (std::string(name) + "Slider").c_str());
    }
    static QSpinBox *spin(TamotoolChildWindow *w, const char *name) {
        return child<QSpinBox>(w, (std::string(name) + "Spin").c_str());
    }
    // What the window shows.
    static QImage shown(TamotoolChildWindow *w) {
        return child<QLabel>(w, "imageLabel")->pixmap(Qt::ReturnByValue).toImage();
    }

    std::string opened;
};
