#ifndef PLM_GUI_TOOLBOX_H
#define PLM_GUI_TOOLBOX_H

#include <QFrame>
#include <QIcon>
#include <QList>
#include <QString>

class QPushButton;
class QScrollArea;
class QVBoxLayout;

// One section of a tool box: a title button over a tool widget; a click on
// the title folds the tool away or brings it back.
class PLMToolBoxItem : public QWidget
{
    Q_OBJECT
public:
    PLMToolBoxItem(QWidget* tool, const QString& title, QWidget* parent = nullptr);

    QWidget* GetTool() const { return pTool; }
    QPushButton* GetTitleButton() const { return pTitleBtn; }
    bool IsExpanded() const { return bExpanded; }

public slots:
    void UpdateItem();

private:
    QPushButton* pTitleBtn = nullptr;
    QWidget* pTool = nullptr;
    bool bExpanded = true;
    QIcon expandIcon;
    QIcon collapseIcon;
};

// A column of titled, collapsible sections in a scroll area.
class PLMToolBox : public QFrame
{
    Q_OBJECT
public:
    explicit PLMToolBox(QWidget* parent = nullptr);

    // A new section at the bottom, expanded.
    void AddItem(QWidget* tool, const QString& title);
    // Shows or hides the whole section (title and tool) that holds tool.
    void ShowItem(QWidget* tool, bool visible);
    void SetItemExpanded(QWidget* tool, bool expanded);
    // Height of the section holding tool (its title, and its tool while
    // expanded), and of its title; 0 when no section holds tool.
    int GetItemHeight(QWidget* tool) const;
    int GetTitleHeight(QWidget* tool) const;

private:
    PLMToolBoxItem* FindItem(QWidget* tool) const;

    QScrollArea* pScrollArea = nullptr;
    QVBoxLayout* pItemsLayout = nullptr;
    QList<PLMToolBoxItem*> lItems;
};

#endif
