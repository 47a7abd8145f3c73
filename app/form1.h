#pragma once
// The main window: job list, settings panel, convert button and progress bar.
// Controls are public members named as in the design so that the handlers of
// the job list, the settings panel, the preview and the batch run can reach them.

#include "platform/units.h"

#include <QWidget>
#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QToolButton;

namespace kestrovia {

class BatchRun;
class ColorSwatch;
class DropHandler;
class Form2;
class RowCommands;
class SelectionSync;
class SettingsPanel;
class JobListView;
class JobTable;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(TwipsPerPixel tpp = {}, QWidget *parent = nullptr);
    ~Form1() override;

    TwipsPerPixel twipsPerPixel() const { return m_tpp; }
    JobTable *table() const { return m_table; }
    // The preview window; created hidden with the main window.
    Form2 *form2() const { return m_form2; }

    // The handlers behind the controls, one object per concern.
    SelectionSync *selectionSync() const { return m_selectionSync; }
    SettingsPanel *settingsPanel() const { return m_settingsPanel; }
    DropHandler *dropHandler() const { return m_dropHandler; }
    RowCommands *rowCommands() const { return m_rowCommands; }
    BatchRun *batchRun() const { return m_batchRun; }

    // A short note in the strip under the grid (「20件を保存しました」), shown until
    // the next drop or run; an empty note brings back the drop hint.
    void setStripNote(const QString &note);

    // Outer (frame) geometry in twips.
    int outerWidthTwips() const;
    int outerHeightTwips() const;

    // Window-level controls.
    QGroupBox *Frame1;
    JobListView *PicsGalary;
    QProgressBar *ProgressBar1;
    QLabel *Label15;
    QPushButton *BtnMain;

    // Settings panel, top to bottom.
    QLabel *Label9;
    QLabel *Label2;
    QLineEdit *TxtWidth;
    QLabel *Label1;
    QLineEdit *TxtHeight;
    std::array<QRadioButton *, 2> AspCheck;
    QLabel *Label3;
    ColorSwatch *PicBack;
    QLabel *Label4;
    QFrame *Frame2;
    std::array<QRadioButton *, 2> PicPos;
    QLabel *Label10;
    QLabel *Label11;
    QComboBox *RollValue;
    QLabel *Label12;
    QLabel *Label13;
    QLabel *Label5;
    QLabel *CompLabel;
    QLabel *Label7;
    QScrollBar *CompressLevel;
    QLabel *Label8;
    QLabel *Label6;
    QFrame *Frame3;
    std::array<QRadioButton *, 2> SaveCheck;
    QLineEdit *SaveTxt;
    QToolButton *SaveFolder;
    QCheckBox *PreCheck;
    QLabel *Label14;
    QLabel *Image1;

    // The job list's popup menu (never shown as a menu bar).
    QMenu *SameAll;
    QMenu *SameA;
    QAction *SameAllItem;
    QAction *SameSizeAll;
    QAction *SameFitAll;
    QAction *SameColorAll;
    QAction *SamePosAll;
    QAction *SameRollAll;
    QAction *SameJPGAll;
    QAction *SameFolderAll;
    QMenu *SortMnu;
    QMenu *SortFileName;
    std::array<QAction *, 2> SortFile;
    QAction *SortSize;
    QAction *SortNewSize;
    QAction *SortJPG;

signals:
    // Image1 was clicked: the About dialog opens.
    void Image1_Click();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPanel();
    void buildMenu();
    void setupJobTable();
    void placeForm2();
    void Form_Resize();
    QRect twipsRect(int left, int top, int width, int height) const;

    TwipsPerPixel m_tpp;
    JobTable *m_table;
    Form2 *m_form2;
    SelectionSync *m_selectionSync = nullptr;
    SettingsPanel *m_settingsPanel = nullptr;
    DropHandler *m_dropHandler = nullptr;
    RowCommands *m_rowCommands = nullptr;
    BatchRun *m_batchRun = nullptr;
    bool m_form2Placed = false;
};

} // namespace kestrovia
