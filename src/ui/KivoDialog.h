#pragma once

// Kivo's own alert and confirmation: a white panel with a symbol, a title, an optional
// explanation and Kivo's buttons at the right, in a window with only a close button. Texts are
// shown as plain text (they may hold a record's name or a path). Escape and the close button
// answer with the escape button (the last one added with the cancel role, or none).

#include <QDialog>

class QLabel;

namespace kivo {

class KivoButton;

class KivoDialog : public QDialog {
    Q_OBJECT

public:
    enum class Symbol { warning, question, trash };
    enum class Role { accept, cancel, destructive };

    KivoDialog(Symbol symbol, const QString& title, const QString& text, QWidget* parent);

    // Adds a button at the right of those already there. The first accept or destructive button
    // is the default unless setDefaultButton() says otherwise.
    KivoButton* addButton(const QString& text, Role role);
    void setDefaultButton(KivoButton* button);
    KivoButton* defaultButton() const { return m_default; }
    // The button that answered, or null when the dialog was closed without one.
    KivoButton* clickedButton() const { return m_clicked; }
    QList<KivoButton*> buttons() const { return m_buttons; }

    QString title() const;
    void setTitle(const QString& title);
    QString text() const;
    void setText(const QString& text);

signals:
    void buttonClicked(KivoButton* button);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_text;
    QWidget* m_buttonRow;
    QList<KivoButton*> m_buttons;
    KivoButton* m_default = nullptr;
    KivoButton* m_escape = nullptr;
    KivoButton* m_clicked = nullptr;
};

} // namespace kivo
