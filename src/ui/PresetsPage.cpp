#include "ui/PresetsPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"

namespace kivo {

PresetsPage::PresetsPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    connect(&m_model, &AppModel::changed, this, &PresetsPage::refresh);
    refresh();
}

void PresetsPage::refresh() {}

} // namespace kivo
