#include "windowchecks.h"

#include "cwpuzzlewidget.h"
#include "guiutil.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace WindowChecks {

namespace {

// The parts a user reads or works, in the order the window holds them:
// neither the scroll bars and viewports inside tables and text boxes nor the
// hidden ones.
QList<QWidget *> shownParts(QWidget *window)
{
    QList<QWidget *> parts;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisible() || widget->window() != window)
            continue;
        bool inside = false;
        for (QWidget *up = widget->parentWidget(); up && up != window; up = up->parentWidget()) {
            if (qobject_cast<QAbstractScrollArea *>(up) || qobject_cast<QComboBox *>(up))
                inside = true;
        }
        if (!inside)
            parts.append(widget);
    }
    return parts;
}

QRect inWindow(const QWidget *widget, const QWidget *window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// The colour most pixels of the rectangle have: the background behind a text.
QColor mostCommon(const QImage &image, const QRect &rect)
{
    const QRect pixels =
        QRect(rect.topLeft() * image.devicePixelRatio(), rect.size() * image.devicePixelRatio())
            .intersected(image.rect());
    QHash<QRgb, int> counts;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x)
            ++counts[image.pixel(x, y)];
    }
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return QColor(best);
}

// The colours a text is drawn in: those its markup names, and the given one
// for the rest.
QList<QColor> textColors(const QString &text, bool rich, const QColor &plain)
{
    if (!rich)
        return {plain};
    QTextDocument document;
    document.setHtml(text);
    QList<QColor> colors;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QBrush brush = fragment.fragment().charFormat().foreground();
            const QColor color = brush.style() == Qt::NoBrush ? plain : brush.color();
            if (!fragment.fragment().text().trimmed().isEmpty() && !colors.contains(color))
                colors.append(color);
        }
    }
    return colors;
}

bool isRich(const QLabel *label)
{
    return label->textFormat() == Qt::RichText ||
           (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

QString plainText(const QLabel *label)
{
    if (!isRich(label))
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

QString withoutMnemonic(QString text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&'))
            text.remove(i, 1);
    }
    return text;
}

QString ratioLine(const QWidget *widget, const QColor &text, const QColor &background,
                  const QString &what = QString())
{
    return QStringLiteral("%1%2: %3 on %4 is %5:1")
        .arg(describe(widget), what.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(what),
             text.name(), background.name())
        .arg(GuiUtil::contrastRatio(text, background), 0, 'f', 2);
}

void checkPair(QStringList &faults, const QWidget *widget, const QColor &text,
               const QColor &background, const QString &what = QString())
{
    if (GuiUtil::contrastRatio(text, background) < GuiUtil::minimumContrast)
        faults << ratioLine(widget, text, background, what);
}

// The grid draws its own cells: each letter, the cursor and each marker
// against the cell it stands on, read from the grid's pixels. The letters'
// strokes are wide enough to hold pixels of their full colour.
void checkGrid(QStringList &faults, const CWPuzzleWidget *grid, const QImage &image,
               const QPoint &origin)
{
    const int side = grid->cellSize();
    const qreal ratio = image.devicePixelRatio();
    const auto pixel = [&](int x, int y) {
        const QPoint at = (origin + QPoint(x, y)) * ratio;
        return image.pixelColor(at);
    };
    for (int y = 0; y < grid->rowCount(); ++y) {
        for (int x = 0; x < grid->columnCount(); ++x) {
            const QString where = QStringLiteral("cell %1, %2").arg(x).arg(y);
            const int left = x * side;
            const int top = y * side;
            const QColor background = pixel(left + 2, top + side - 2);
            if (!grid->isLetterCell(x, y)) {
                const CWPuzzleCell &cell = grid->cell(x, y);
                if (cell.acrossEntry)
                    checkPair(faults, grid, pixel(left + side * 18 / 24, top + side * 7 / 24),
                              background, where + QStringLiteral(", across marker"));
                if (cell.downEntry)
                    checkPair(faults, grid, pixel(left + side * 7 / 24, top + side * 18 / 24),
                              background, where + QStringLiteral(", down marker"));
                continue;
            }
            if (x == grid->cursorX() && y == grid->cursorY()) {
                // The middle of the triangle, whichever way it points.
                checkPair(faults, grid, pixel(left + side / 2, top + side / 2), background,
                          where + QStringLiteral(", cursor"));
                continue;
            }
            QColor ink = background;
            for (int py = top + 2; py < top + side - 1; ++py) {
                for (int px = left + 2; px < left + side - 1; ++px) {
                    const QColor seen = pixel(px, py);
                    if (GuiUtil::contrastRatio(seen, background) >
                        GuiUtil::contrastRatio(ink, background))
                        ink = seen;
                }
            }
            if (ink != background)
                checkPair(faults, grid, ink, background, where + QStringLiteral(", letter"));
        }
    }
}

QColor roleColor(const QWidget *widget, QPalette::ColorRole role)
{
    return widget->palette().color(widget->palette().currentColorGroup(), role);
}

// A text on a flat background: the colour most of the widget's pixels have.
void checkOnFlat(QStringList &faults, const QWidget *widget, QPalette::ColorRole role,
                 const QImage &image, const QRect &rect)
{
    checkPair(faults, widget, roleColor(widget, role), mostCommon(image, rect));
}

// A text on the face of a button, a combo box or a header, which the style
// fills with a gradient: against every shade of the face, read down the
// face inside the frame, in front of any icon and text.
void checkOnFace(QStringList &faults, const QWidget *widget, QPalette::ColorRole role,
                 const QImage &image, const QRect &rect)
{
    const QColor text = roleColor(widget, role);
    const qreal ratio = image.devicePixelRatio();
    const int x = qRound((rect.left() + 3) * ratio);
    QColor worst;
    for (int y = qRound((rect.top() + 4) * ratio); y < qRound((rect.bottom() - 3) * ratio); ++y) {
        const QColor face = image.pixelColor(x, y);
        if (!worst.isValid() ||
            GuiUtil::contrastRatio(text, face) < GuiUtil::contrastRatio(text, worst))
            worst = face;
    }
    if (worst.isValid())
        checkPair(faults, widget, text, worst);
}

bool sameRow(const QRect &a, const QRect &b)
{
    const int overlap = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
    return overlap > std::min(a.height(), b.height()) / 2;
}

} // namespace

QString describe(const QWidget *widget)
{
    QString text;
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        text = button->text();
    else if (const auto *label = qobject_cast<const QLabel *>(widget))
        text = plainText(label).left(30);
    if (text.isEmpty())
        text = widget->accessibleName();
    const QString name = widget->objectName().isEmpty() ? text : widget->objectName();
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), name);
}

QString darkerSchemePath()
{
    return QStringLiteral("/usr/share/qt6ct/colors/darker.conf");
}

bool schemePalette(const QString &path, QPalette *palette)
{
    if (!QFile::exists(path))
        return false;
    const QSettings scheme(path, QSettings::IniFormat);
    const struct
    {
        const char *key;
        QPalette::ColorGroup group;
    } groups[] = {{"ColorScheme/active_colors", QPalette::Active},
                  {"ColorScheme/disabled_colors", QPalette::Disabled},
                  {"ColorScheme/inactive_colors", QPalette::Inactive}};
    QPalette made;
    for (const auto &group : groups) {
        const QStringList colors = scheme.value(QLatin1String(group.key)).toStringList();
        if (colors.size() < QPalette::NColorRoles)
            return false;
        for (int role = 0; role < QPalette::NColorRoles; ++role)
            made.setColor(group.group, QPalette::ColorRole(role),
                          QColor(colors.at(role).trimmed()));
    }
    *palette = made;
    return true;
}

QStringList lowContrast(QWidget *window)
{
    QStringList faults;
    const QImage image = window->grab().toImage();
    for (QWidget *widget : shownParts(window)) {
        const QRect rect = inWindow(widget, window);
        if (const auto *grid = qobject_cast<CWPuzzleWidget *>(widget)) {
            checkGrid(faults, grid, image, rect.topLeft());
            continue;
        }
        if (const auto *box = qobject_cast<QTextEdit *>(widget)) {
            // A disabled box still shows a question or the answers.
            const QWidget *viewport = box->viewport();
            const QColor plain =
                box->palette().color(box->palette().currentColorGroup(), QPalette::Text);
            const QColor background = mostCommon(image, inWindow(viewport, window));
            for (const QColor &text : textColors(box->toHtml(), true, plain))
                checkPair(faults, widget, text, background);
            continue;
        }
        if (!widget->isEnabled())
            continue;
        if (const auto *label = qobject_cast<QLabel *>(widget)) {
            if (label->text().isEmpty())
                continue;
            const QColor plain =
                label->palette().color(label->palette().currentColorGroup(), QPalette::WindowText);
            const QColor background = mostCommon(image, rect);
            for (const QColor &text : textColors(label->text(), isRich(label), plain))
                checkPair(faults, widget, text, background);
        } else if (qobject_cast<QPushButton *>(widget) || qobject_cast<QComboBox *>(widget)) {
            checkOnFace(faults, widget, QPalette::ButtonText, image, rect);
        } else if (qobject_cast<QCheckBox *>(widget) || qobject_cast<QRadioButton *>(widget)) {
            checkOnFlat(faults, widget, QPalette::WindowText, image, rect);
        } else if (qobject_cast<QLineEdit *>(widget)) {
            checkOnFlat(faults, widget, QPalette::Text, image, rect.adjusted(3, 3, -3, -3));
        } else if (auto *view = qobject_cast<QAbstractItemView *>(widget)) {
            // The selection's colours are the desktop's own pair, as its
            // theme chose them (Fusion's light one reaches 3.69:1 only); the
            // rows are the program's choice of roles.
            checkPair(faults, widget, roleColor(view, QPalette::Text),
                      mostCommon(image, inWindow(view->viewport(), window)),
                      QStringLiteral("rows"));
            if (auto *header = view->findChild<QHeaderView *>()) {
                if (header->isVisible())
                    checkOnFace(faults, header, QPalette::ButtonText, image,
                                inWindow(header, window));
            }
        } else if (qobject_cast<QProgressBar *>(widget)) {
            // Its percentage stands beside the part the bar has filled.
            checkPair(faults, widget, roleColor(widget, QPalette::Text),
                      roleColor(widget, QPalette::Base));
        }
    }
    return faults;
}

QStringList cutOff(QWidget *window)
{
    QStringList faults;
    const QRect whole = window->rect();
    const auto fault = [&faults](const QWidget *widget, const QSize &needed, const QSize &shown) {
        faults << QStringLiteral("%1 needs %2 x %3, is shown at %4 x %5")
                      .arg(describe(widget))
                      .arg(needed.width())
                      .arg(needed.height())
                      .arg(shown.width())
                      .arg(shown.height());
    };
    for (QWidget *widget : shownParts(window)) {
        const QSize shown = widget->size();
        QSize needed;
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            if (label->wordWrap())
                needed = QSize(0, label->heightForWidth(shown.width()));
            else
                needed = label->sizeHint();
        } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
            needed = QSize(GuiUtil::neededButtonWidth(button), button->sizeHint().height());
        } else if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QComboBox *>(widget) ||
                   qobject_cast<QProgressBar *>(widget)) {
            needed = widget->sizeHint();
        } else if (auto *field = qobject_cast<QLineEdit *>(widget)) {
            // Three digits at least: the smallest of the program's fields
            // holds the minutes, up to 240.
            const QString longest =
                field->text().size() > 3 ? field->text() : QStringLiteral("000");
            needed =
                QSize(GuiUtil::neededFieldWidth(field, longest), field->minimumSizeHint().height());
        } else if (auto *view = qobject_cast<QAbstractItemView *>(widget)) {
            if (auto *header = view->findChild<QHeaderView *>()) {
                for (int i = 0; i < header->count() && header->isVisible(); ++i) {
                    if (header->sectionSizeHint(i) > header->sectionSize(i))
                        faults << QStringLiteral("%1: header %2 needs %3, has %4")
                                      .arg(describe(widget))
                                      .arg(i)
                                      .arg(header->sectionSizeHint(i))
                                      .arg(header->sectionSize(i));
                }
            }
        }
        if (needed.isValid() &&
            (needed.width() > shown.width() || needed.height() > shown.height()))
            fault(widget, needed, shown);
        if (!whole.contains(inWindow(widget, window)))
            faults << QStringLiteral("%1 reaches out of the window").arg(describe(widget));
    }
    return faults;
}

QStringList overlapping(QWidget *window)
{
    QStringList faults;
    const QList<QWidget *> parts = shownParts(window);
    for (int i = 0; i < parts.size(); ++i) {
        for (int j = i + 1; j < parts.size(); ++j) {
            const QWidget *a = parts.at(i);
            const QWidget *b = parts.at(j);
            if (a->parentWidget() == b->parentWidget() && a->geometry().intersects(b->geometry()))
                faults << QStringLiteral("%1 overlaps %2").arg(describe(a), describe(b));
        }
    }
    return faults;
}

QStringList duplicateAccelerators(QWidget *window)
{
    QStringList faults;
    QHash<QKeySequence, QString> taken;
    for (QWidget *widget : shownParts(window)) {
        QString text;
        if (const auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        else if (const auto *label = qobject_cast<QLabel *>(widget); label && label->buddy())
            text = label->text();
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (key.isEmpty())
            continue;
        if (taken.contains(key))
            faults << QStringLiteral("%1 and %2 both use %3")
                          .arg(taken.value(key), describe(widget),
                               key.toString(QKeySequence::NativeText));
        else
            taken.insert(key, describe(widget));
    }
    return faults;
}

QStringList tabOrderAgainstLayout(QWidget *window)
{
    QList<QWidget *> chain;
    for (QWidget *widget = window->nextInFocusChain(); widget && widget != window;
         widget = widget->nextInFocusChain()) {
        if (widget->isVisible() && widget->isEnabled() && widget->window() == window &&
            (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() &&
            !chain.contains(widget))
            chain.append(widget);
    }
    QStringList faults;
    for (int i = 1; i < chain.size(); ++i) {
        const QRect from = inWindow(chain.at(i - 1), window);
        const QRect to = inWindow(chain.at(i), window);
        const bool follows =
            sameRow(from, to) ? to.left() > from.left() : to.center().y() > from.center().y();
        if (!follows)
            faults << QStringLiteral("Tab goes from %1 back to %2")
                          .arg(describe(chain.at(i - 1)), describe(chain.at(i)));
    }
    return faults;
}

QStringList unnamedForScreenReaders(QWidget *window)
{
    QStringList faults;
    for (QWidget *widget : shownParts(window)) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (!accessible)
            continue;
        const QString name = accessible->text(QAccessible::Name);
        QString looks;
        if (const auto *button = qobject_cast<QAbstractButton *>(widget))
            looks = withoutMnemonic(button->text());
        else if (const auto *label = qobject_cast<QLabel *>(widget);
                 label && label->pixmap().isNull())
            looks = withoutMnemonic(plainText(label));
        if (!looks.isEmpty() && name != looks)
            faults << QStringLiteral("%1 reads \"%2\"").arg(describe(widget), name);
        if (name.trimmed().isEmpty() && (widget->focusPolicy() & Qt::TabFocus))
            faults << QStringLiteral("%1 has no name").arg(describe(widget));
    }
    return faults;
}

} // namespace WindowChecks
