#include "ui/NameSheet.h"

#include "ui/KivoButton.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace kivo {

NameSheet::NameSheet(const QString& title, const QString& name, std::function<void(QString)> onSave,
                     QWidget* parent)
    : QDialog(parent)
    , m_onSave(std::move(onSave))
    , m_field(new QLineEdit(name, this))
    , m_cancel(new KivoButton(QStringLiteral("取消"), KivoButton::Kind::ordinary, this))
    , m_save(new KivoButton(QStringLiteral("儲存"), KivoButton::Kind::prominent, this)) {
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(360);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(makeLabel(title, 15, KivoTheme::ink, QFont::DemiBold));
    m_field->setPlaceholderText(QStringLiteral("名稱"));
    m_field->setFont(KivoTheme::font(13));
    m_field->setStyleSheet(KivoTheme::fieldStyleSheet());
    layout->addWidget(m_field);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    // Return presses "儲存", which a blank name keeps disabled: nothing happens then.
    m_save->setDefault(true);
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &NameSheet::save);
    connect(m_field, &QLineEdit::textChanged, this, [this] { m_save->setEnabled(canSave()); });
    m_save->setEnabled(canSave());
}

NameSheet* NameSheet::ask(QWidget* parent, const QString& title, const QString& name,
                          std::function<void(QString)> onSave) {
    auto* sheet = new NameSheet(title, name, std::move(onSave), parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    sheet->m_field->selectAll();
    sheet->m_field->setFocus();
    return sheet;
}

bool NameSheet::canSave() const {
    return !m_field->text().trimmed().isEmpty();
}

void NameSheet::save() {
    if (!canSave()) {
        return;
    }
    const QString name = m_field->text();
    accept();
    if (m_onSave) {
        m_onSave(name);
    }
}

} // namespace kivo
