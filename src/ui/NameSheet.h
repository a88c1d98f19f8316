#pragma once

// A modal sheet that asks for a name: the title, a field ("名稱") holding the name, "取消" and
// "儲存". Saving passes the name as typed; a name that is empty once white space is trimmed from
// both ends cannot be saved. Return presses "儲存", the default button, when it is enabled.

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;

namespace kivo {

class KivoButton;

class NameSheet : public QDialog {
    Q_OBJECT

public:
    NameSheet(const QString& title, const QString& name, std::function<void(QString)> onSave,
              QWidget* parent);

    // Opens a sheet over `parent` that deletes itself when closed.
    static NameSheet* ask(QWidget* parent, const QString& title, const QString& name,
                          std::function<void(QString)> onSave);

    QLineEdit* field() const { return m_field; }
    KivoButton* saveButton() const { return m_save; }
    KivoButton* cancelButton() const { return m_cancel; }

    // Saves when the name allows it; otherwise nothing happens.
    void save();

private:
    bool canSave() const;

    std::function<void(QString)> m_onSave;
    QLineEdit* m_field;
    KivoButton* m_cancel;
    KivoButton* m_save;
};

} // namespace kivo
