#pragma once

// A row of joined options of which exactly one is chosen ("AAC (.m4a)" | "WAV (.wav)"). Setting
// the current option from code does not announce it; only the user's choice does.
//
// Main thread only.

#include <QButtonGroup>
#include <QStringList>
#include <QWidget>

namespace kivo {

class SegmentedChoice : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedChoice(const QStringList& options, QWidget* parent = nullptr);

    int current() const { return m_group.checkedId(); }
    void setCurrent(int index);
    // The option's button, for keyboard focus and tests.
    QAbstractButton* option(int index) const { return m_group.button(index); }

protected:
    void paintEvent(QPaintEvent* event) override;

signals:
    // The user chose the option at `index`.
    void chosen(int index);

private:
    QButtonGroup m_group;
};

} // namespace kivo
