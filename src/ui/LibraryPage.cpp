#include "ui/LibraryPage.h"

#include "application/AppModel.h"
#include "ui/DesktopActions.h"

namespace kivo {

LibraryPage::LibraryPage(AppModel& model, DesktopActions& desktop, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_desktop(desktop) {
    connect(&m_model, &AppModel::changed, this, &LibraryPage::refresh);
    refresh();
}

void LibraryPage::refresh() {}

} // namespace kivo
