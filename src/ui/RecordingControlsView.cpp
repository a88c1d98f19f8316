#include "ui/RecordingControlsView.h"

#include "application/AppModel.h"

namespace kivo {

RecordingControlsView::RecordingControlsView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    connect(&m_model, &AppModel::changed, this, &RecordingControlsView::refresh);
    refresh();
}

void RecordingControlsView::refresh() {}

} // namespace kivo
