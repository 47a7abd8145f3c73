#pragma once
// The About dialog ("Dialog1"): icon, name, version, a link to the support
// page and the contact address. It has no buttons; the close box destroys it.

#include "platform/units.h"

#include <QDialog>
#include <functional>

class QLabel;
class QMessageBox;
class QUrl;

namespace kestrovia {

class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    // Returns false when the desktop could not be asked to open the URL at all.
    using UrlOpener = std::function<bool(const QUrl &)>;
    // Stands in for QMessageBox::exec(); returns the button pressed.
    using MessageBoxRunner = std::function<int(QMessageBox &)>;
    // Stands in for the modal exec() in showModal(); receives the dialog.
    using ModalRunner = std::function<void(AboutDialog &)>;

    // Parentless and application-modal. Geometry is given in twips and
    // converted with tpp (fraction dropped); labels whose text would be
    // clipped in the current font grow, and the client area with them.
    // Deletes itself when closed, so create it with new.
    explicit AboutDialog(TwipsPerPixel tpp = {});
    ~AboutDialog() override;

    static QUrl supportUrl();
    static QString mailAddress();

    // Creates a new dialog, shows it modally and returns once it is closed;
    // the dialog is destroyed afterwards in any case.
    static void showModal(TwipsPerPixel tpp = {});

    // Seams for tests; an empty function restores the default
    // (QDesktopServices::openUrl, QMessageBox::exec, QDialog::exec).
    static void setUrlOpener(UrlOpener opener);
    static void setMessageBoxRunner(MessageBoxRunner runner);
    static void setModalRunner(ModalRunner runner);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void label3Click();

    QLabel *m_label3 = nullptr;
};

} // namespace kestrovia
