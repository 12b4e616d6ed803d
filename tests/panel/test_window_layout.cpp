// The window at its first-start size with every feature panel shown: every
// text must fit the widget that shows it, and the direction numbers must be
// drawn by a font that has digits.
#include <QAbstractButton>
#include <QFontDatabase>
#include <QFontInfo>
#include <QRawFont>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QtTest>

#include "PanelTestSupport.h"

class WindowLayoutTest : public QObject
{
    Q_OBJECT

  private slots:
    // The offscreen platform starts with a 12 pt font; a desktop session
    // (xcb) with Debian's default fonts uses 9 pt "Sans Serif".
    void initTestCase() { QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9)); }
    void everyTextFitsAtFirstStartSize();
    void directionNumbersAreDrawnWithDigits();
};

namespace
{

// The text a widget shows and the width the style gives it to draw that
// text in (label contents, check box text area, button contents, combo box
// edit field, group box title); 0 for widgets that show no single line.
struct TextRoom {
    QString text;
    int room = 0;
};

TextRoom textRoom(const QWidget* widget)
{
    QStyle* style = widget->style();
    if (auto label = qobject_cast<const QLabel*>(widget)) {
        if (label->wordWrap())
            return {};
        return {label->text(), label->contentsRect().width() - 2 * label->margin()};
    }
    if (auto combo = qobject_cast<const QComboBox*>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                  QStyle::SC_ComboBoxEditField, combo);
        return {combo->currentText(), field.width() - 2}; // the label is drawn 1 px inside
    }
    if (auto box = qobject_cast<const QGroupBox*>(widget)) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel |
                             (box->isCheckable() ? QStyle::SC_GroupBoxCheckBox : QStyle::SC_None);
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        return {box->title(), box->width() - title.left()}; // the title rect is sized to the text
    }
    if (auto check = qobject_cast<const QCheckBox*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->text();
        return {check->text(),
                style->subElementRect(QStyle::SE_CheckBoxContents, &option, check).width()};
    }
    if (auto button = qobject_cast<const QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        return {button->text(),
                style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width()};
    }
    return {};
}

} // namespace

void WindowLayoutTest::everyTextFitsAtFirstStartSize()
{
    ScratchWorkingDirectory scratch;
    EmulatedBoard board(uniquePortNumber(31), {"--features", "3F", "--enabled", "09"});
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    w.resize(w.minimumSize());
    QCoreApplication::processEvents();
    // Every panel a board can offer is shown, the gesture switches too.
    for (const char* name :
         {"gB_DEMO_AEC", "gB_DEMO_Beam", "gB_DEMO_Source", "gB_DEMO_Streaming", "gB_ASR_BOX",
          "gB_DBMoise", "gBOutput", "cB_gestureControl", "cB_gestureVolumeControl"})
        QVERIFY2(child<QWidget>(w, name)->isVisible(), name);
    QTRY_VERIFY(w.width() <= w.minimumSize().width() + 1);

    QVERIFY(w.grab().save(QStringLiteral(HALVANE_BUILD_DIR "/panel-first-start.png")));
    QStringList clipped;
    const QList<QWidget*> widgets = w.findChildren<QWidget*>();
    for (const QWidget* widget : widgets) {
        if (!widget->isVisible())
            continue;
        const TextRoom shown = textRoom(widget);
        const int needed = QFontMetrics(widget->font()).horizontalAdvance(shown.text);
        if (!shown.text.isEmpty() && needed > shown.room)
            clipped << QStringLiteral("%1 \"%2\" needs %3, has %4")
                           .arg(widget->objectName(), shown.text)
                           .arg(needed)
                           .arg(shown.room);
    }
    // The two cardioid beam types must be told apart.
    QComboBox* type = child<QComboBox>(w, "cB_AlgType");
    for (int i = 0; i < type->count(); ++i) {
        type->setCurrentIndex(i);
        const TextRoom shown = textRoom(type);
        const int needed = QFontMetrics(type->font()).horizontalAdvance(shown.text);
        if (needed > shown.room)
            clipped << QStringLiteral("cB_AlgType \"%1\" needs %2, has %3")
                           .arg(shown.text)
                           .arg(needed)
                           .arg(shown.room);
    }
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
}

void WindowLayoutTest::directionNumbersAreDrawnWithDigits()
{
    // IMPACT resolved to a dingbat font, as fontconfig does through
    // "fantasy" on machines with the URW base fonts (fonts-urw-base35).
    QFont::insertSubstitution(QStringLiteral("IMPACT"), QStringLiteral("D050000L"));
    const QFontDatabase fonts;
    QVERIFY2(fonts.writingSystems(QFontInfo(QFont(QStringLiteral("IMPACT"))).family())
                 .contains(QFontDatabase::Symbol),
             "the substitution must reach a symbol font (fonts-urw-base35)");

    ScratchWorkingDirectory scratch;
    EmulatedBoard board(uniquePortNumber(35));
    FInit w;
    w.show();
    QVERIFY(connectTo(w, board));
    for (int k = 0; k < BEAM_DIRECTION_COUNT; ++k) {
        const QFont font = FInitProbe::label(w, k).font();
        const QString family = QFontInfo(font).family();
        QVERIFY2(!fonts.writingSystems(family).contains(QFontDatabase::Symbol), qPrintable(family));
        QVERIFY(QRawFont::fromFont(font).supportsCharacter(QLatin1Char('1' + k)));
    }
}

QTEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"
