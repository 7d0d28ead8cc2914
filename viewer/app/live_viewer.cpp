#include "live_viewer.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include "device_mgr.h"
#include "graph_dialog.h"
#include "graph_view.h"
#include "live_data_source.h"
#include "log_line.h"

std::unique_ptr<LiveViewer> LiveViewer::start(const std::vector<std::string>& addresses,
                                              int lineFreq, std::vector<std::string>& unreachable) {
    std::unique_ptr<LiveViewer> viewer(new LiveViewer());
    viewer->_source = std::make_shared<LiveDataSource>(30000, 10000, addresses);
    unreachable = viewer->_source->GetUnreachable();
    if (!unreachable.empty()) {
        return nullptr;  // the destructor stops the links
    }
    std::shared_ptr<DataSource> source = viewer->_source;
    source->SetLineFreq(lineFreq);
    viewer->_window = std::make_unique<GraphDialog>(source);
    QString title = "live_stream";
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        title += (i == 0 ? " - " : ", ") + QString::fromStdString(addresses[i]);
    }
    viewer->_window->setWindowTitle(title);
    viewer->_source->Start();
    return viewer;
}

LiveViewer::~LiveViewer() {
    _window.reset();
    _source.reset();
    // Stop and join the links now rather than during static destruction.
    DeviceMgr::GetInstance()->disconnect();
}

std::shared_ptr<DataSource> LiveViewer::source() const {
    return _source;
}

void LiveViewer::scheduleScreenshot(const std::string& path, int delayMs) {
    QTimer::singleShot(delayMs, _window.get(), [this, path] {
        // The window's own grab leaves out what the view paints over its OpenGL picture (the
        // channel names), so the view's framebuffer is laid over its place.
        QPixmap picture = _window->grab();
        GraphView* view = _window->view();
        QPainter painter(&picture);
        painter.drawImage(view->mapTo(_window.get(), QPoint(0, 0)), view->grabFramebuffer());
        painter.end();
        if (picture.save(QString::fromStdString(path))) {
            outLine("Screenshot saved to " + path);
        } else {
            errLine("Unable to save the screenshot to " + path);
        }
        _window->close();
    });
}
