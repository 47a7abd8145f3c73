#include "app/accessiblecombo.h"

#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

#include <mutex>

namespace kestrovia {

namespace {

class NamedComboBox : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox *combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const auto *combo = static_cast<const QComboBox *>(widget());
        switch (t) {
        case QAccessible::Name:
            // Asked as soon as the box exists, before it is named: a box without a
            // name still says its item, as Qt's own does.
            if (!combo->accessibleName().isEmpty())
                return combo->accessibleName();
            return combo->currentText();
        // An empty box (the selected rows differ) says so through its description.
        case QAccessible::Value: return combo->isEditable() ? combo->lineEdit()->text() : combo->currentText();
        default: return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override
    {
        return QStringList(showMenuAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction() || action == pressAction())
            static_cast<QComboBox *>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *namedComboBoxes(const QString &className, QObject *object)
{
    auto *combo = className == QLatin1String("QComboBox") ? qobject_cast<QComboBox *>(object) : nullptr;
    return combo ? new NamedComboBox(combo) : nullptr;
}

} // namespace

void installNamedComboBoxes()
{
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(namedComboBoxes); });
}

} // namespace kestrovia
