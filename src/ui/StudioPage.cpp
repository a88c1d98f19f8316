#include "ui/StudioPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"

namespace kivo {

StudioPage::StudioPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    connect(&m_model, &AppModel::changed, this, &StudioPage::refresh);
    refresh();
}

void StudioPage::refresh() {}

} // namespace kivo
