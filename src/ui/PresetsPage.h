#pragma once

// The presets page: one card per saved recording preset, in library order, with its sources,
// format and saving mode, a button that applies it (and returns to the studio) and one that
// deletes it after a confirmation; an empty-state card when there are none. The cards are
// rebuilt only when the presets change; the buttons are enabled only while idle with no
// recovery running.
//
// Main thread only.

#include "domain/RecordingPreset.h"

#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace kivo {

class AppModel;
class DesktopActions;
class KivoButton;
class Panel;

class PresetsPage : public QWidget {
    Q_OBJECT

public:
    PresetsPage(AppModel& model, DesktopActions& desktop, QWidget* parent = nullptr);

    // Shows the model as it is now.
    void refresh();

    // The object name of the delete confirmation (a QMessageBox, child of this page).
    static constexpr const char* kDeleteConfirmationName = "deletePresetConfirmation";

signals:
    // The cards were built anew (the window orders its tab chain again).
    void rowsRebuilt();

private:
    void rebuild(const QList<RecordingPreset>& presets);
    QWidget* presetPanel(const RecordingPreset& preset);
    // Opens the non-blocking delete confirmation for `preset`.
    void confirmDelete(const RecordingPreset& preset);

    AppModel& m_model;
    DesktopActions& m_desktop;
    // The presets the cards show, to rebuild only when they change.
    QList<RecordingPreset> m_shown;
    bool m_built = false;
    Panel* m_empty = nullptr;
    QVBoxLayout* m_list = nullptr;
    QList<QWidget*> m_cards;
    QList<KivoButton*> m_applyButtons;
    QList<KivoButton*> m_deleteButtons;
    QLabel* m_note = nullptr;
};

} // namespace kivo
