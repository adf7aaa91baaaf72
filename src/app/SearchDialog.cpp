#include "app/SearchDialog.h"
#include "ui_SearchDialog.h"

SearchDialog::SearchDialog(QWidget *parent) : QDialog(parent), ui(new Ui::SearchDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    connect(ui->StartButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->StopButton, &QPushButton::clicked, this, &SearchDialog::stopClicked);
    ui->StopButton->setVisible(false);
    // The wrapped notes keep the height of their whole text: the fixed-size
    // layout does not ask a label its height for its width when the dialog is
    // laid out again with "Стоп" shown, and would clip them while a search runs.
    for (QLabel *note : {ui->SearchNoteLabel, ui->FastReplyNoteLabel})
        note->setMinimumHeight(note->heightForWidth(note->maximumWidth()));
}

void SearchDialog::showRunning(bool running)
{
    m_running = running;
    ui->StartButton->setEnabled(!running);
    ui->CancelButton->setEnabled(!running);
    ui->TimeoutFindSpinEdit->setEnabled(!running);
    ui->StopButton->setVisible(running);
    ui->StopButton->setEnabled(running);
    if (running) {
        setModal(false);
        show();
        ui->StopButton->setFocus(Qt::OtherFocusReason);
    } else {
        hide();
        setModal(true);
    }
}

void SearchDialog::reject()
{
    if (m_running) {
        Q_EMIT stopClicked();
        return;
    }
    QDialog::reject();
}

SearchDialog::~SearchDialog()
{
    delete ui;
}

int SearchDialog::timeoutMs() const
{
    return ui->TimeoutFindSpinEdit->textValue();
}

SpinEdit *SearchDialog::timeoutSpinEdit() const
{
    return ui->TimeoutFindSpinEdit;
}

void SearchDialog::FormActivate()
{
    ui->StartButton->setFocus(Qt::OtherFocusReason);
}

void SearchDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormActivate();
}
