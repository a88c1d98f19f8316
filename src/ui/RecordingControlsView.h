#pragma once

// (interim) The recording controls bar: elapsed time and status, pause or resume, start or stop.

#include <QWidget>

namespace kivo {

class AppModel;

class RecordingControlsView : public QWidget {
    Q_OBJECT

public:
    explicit RecordingControlsView(AppModel& model, QWidget* parent = nullptr);

    void refresh();

private:
    AppModel& m_model;
};

} // namespace kivo
