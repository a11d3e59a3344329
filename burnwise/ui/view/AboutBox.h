#pragma once

#include <QDialog>

namespace burnwise::view {

// "About": the product logo and version on a white bevelled panel, and an OK button.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 367;
    static constexpr int ClientHeight = 223;

    explicit TAboutBox(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace burnwise::view
