#include "ui/SettingsPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"

namespace kivo {

SettingsPage::SettingsPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    connect(&m_model, &AppModel::changed, this, &SettingsPage::refresh);
    refresh();
}

void SettingsPage::refresh() {}

} // namespace kivo
