#include "ui/KivoDialog.h"

#include "ui/KivoButton.h"
#include "ui/KivoTheme.h"
#include "ui/Panel.h"
#include "ui/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kivo {

namespace {

constexpr int kSymbolSize = 22;
constexpr int kTileSize = 40;
constexpr int kTextWidth = 340;

QString symbolName(KivoDialog::Symbol symbol) {
    switch (symbol) {
    case KivoDialog::Symbol::warning:
        return QStringLiteral("exclamationmark.circle");
    case KivoDialog::Symbol::question:
        return QStringLiteral("questionmark.circle");
    case KivoDialog::Symbol::trash:
        break;
    }
    return QStringLiteral("trash");
}

} // namespace

KivoDialog::KivoDialog(Symbol symbol, const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
    , m_title(makeLabel(title, 15, KivoTheme::ink, QFont::DemiBold, this))
    , m_text(makeLabel(text, 13, KivoTheme::muted, QFont::Normal, this))
    , m_buttonRow(new QWidget(this)) {
    setWindowTitle(QStringLiteral("Kivo"));
    setAutoFillBackground(true);
    QPalette colors = palette();
    colors.setColor(QPalette::Window, Qt::white);
    setPalette(colors);

    const bool warns = symbol != Symbol::question;
    auto* tile = new QWidget(this);
    tile->setFixedSize(kTileSize, kTileSize);
    tile->setObjectName(QStringLiteral("symbolTile"));
    tile->setStyleSheet(QStringLiteral("#symbolTile { background: %1; border-radius: 10px; }")
                            .arg((warns ? KivoTheme::accentLight : KivoTheme::softGreen).name()));
    auto* tileLayout = new QVBoxLayout(tile);
    tileLayout->setContentsMargins(0, 0, 0, 0);
    tileLayout->addWidget(new SymbolView(symbolName(symbol),
                                         warns ? KivoTheme::accentText : KivoTheme::green,
                                         kSymbolSize, tile),
                          0, Qt::AlignCenter);

    for (QLabel* label : {m_title, m_text}) {
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setMinimumWidth(KivoTheme::scaled(kTextWidth));
        label->setMaximumWidth(KivoTheme::scaled(2 * kTextWidth));
    }
    m_text->setVisible(!text.isEmpty());

    auto* buttons = new QHBoxLayout(m_buttonRow);
    buttons->setContentsMargins(0, 6, 0, 0);
    buttons->setSpacing(8);
    buttons->addStretch();

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(m_title);
    column->addWidget(m_text);
    column->addWidget(m_buttonRow);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 18);
    layout->setSpacing(16);
    layout->addWidget(tile, 0, Qt::AlignTop);
    layout->addLayout(column, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(this, &QDialog::finished, this, [this] {
        if (m_clicked == nullptr && m_escape != nullptr) {
            m_clicked = m_escape;
            emit buttonClicked(m_escape);
        }
    });
}

KivoButton* KivoDialog::addButton(const QString& text, Role role) {
    const auto kind = role == Role::destructive ? KivoButton::Kind::destructive
                      : role == Role::accept    ? KivoButton::Kind::prominent
                                                : KivoButton::Kind::ordinary;
    auto* button = new KivoButton(text, kind, m_buttonRow);
    m_buttonRow->layout()->addWidget(button);
    m_buttons << button;
    if (role == Role::cancel) {
        m_escape = button;
    } else if (m_default == nullptr) {
        setDefaultButton(button);
    }
    connect(button, &QPushButton::clicked, this, [this, button, role] {
        m_clicked = button;
        emit buttonClicked(button);
        done(role == Role::cancel ? QDialog::Rejected : QDialog::Accepted);
    });
    return button;
}

void KivoDialog::setDefaultButton(KivoButton* button) {
    m_default = button;
    for (KivoButton* each : m_buttons) {
        each->setDefault(each == button);
        each->setAutoDefault(false);
    }
}

QString KivoDialog::title() const {
    return m_title->text();
}

void KivoDialog::setTitle(const QString& title) {
    m_title->setText(title);
}

QString KivoDialog::text() const {
    return m_text->text();
}

void KivoDialog::setText(const QString& text) {
    m_text->setText(text);
    m_text->setVisible(!text.isEmpty());
}

void KivoDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Return answers with the default button; the focus starts there too.
    if (m_default != nullptr) {
        m_default->setFocus();
    }
}

} // namespace kivo
