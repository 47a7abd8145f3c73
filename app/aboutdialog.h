#pragma once
// The About dialog ("Dialog1"): icon, name, version, a link to the support page and
// the contact line. It has no buttons; the close box destroys it.

#include <QDialog>

class QLabel;
class QUrl;

namespace kestrovia {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    // Application-modal, centred on parent (on the screen without one). Labels
    // whose text would be clipped in the current font grow, and the client area
    // with them. Deletes itself when closed.
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    // The support page: the program's README, installed with it (or the one of
    // the source tree it was built from).
    static QUrl supportUrl();

    // Creates the dialog, shows it modally (Prompts::showModal) and returns once it
    // is closed; the dialog is gone afterwards in any case.
    static void showModal(QWidget *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void label3Click();

    QLabel *m_label3 = nullptr;
};

} // namespace kestrovia
