#pragma once

#include <QDialog>

namespace Ui {
class SearchDialog;
}
class SpinEdit;

// The search dialog: asks for the reply timeout of the bus search. It is
// created once, so the timeout entered stays for the whole run.
class SearchDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SearchDialog(QWidget *parent = nullptr);
    ~SearchDialog() override;

    // The search timeout in milliseconds, as the field shows it now.
    int timeoutMs() const;
    SpinEdit *timeoutSpinEdit() const;

    // Gives the start button the keyboard focus; runs each time the dialog is shown.
    void FormActivate();

    // While the search runs the dialog is shown again, not modal, with only
    // "Стоп" usable; "Стоп", Escape or the close box then ask the search to
    // stop (stopClicked) instead of closing. running false hides it again.
    void showRunning(bool running);
    bool running() const { return m_running; }
    void reject() override;

Q_SIGNALS:
    void stopClicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::SearchDialog *ui;
    bool m_running = false;
};
