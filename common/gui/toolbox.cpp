#include "gui/toolbox.h"

#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QVBoxLayout>

PLMToolBoxItem::PLMToolBoxItem(QWidget* tool, const QString& title, QWidget* parent)
    : QWidget(parent)
    , pTool(tool)
    , expandIcon(QStringLiteral(":IMG_TOOLBOXITEM_EXPAND"))
    , collapseIcon(QStringLiteral(":IMG_TOOLBOXITEM_COLLAPSE"))
{
    pTitleBtn = new QPushButton(expandIcon, title);
    pTitleBtn->setStyleSheet(QStringLiteral("background-color: rgb(210, 210, 210); text-align: left;"));
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pTitleBtn);
    layout->addWidget(pTool);
    connect(pTitleBtn, SIGNAL(clicked()), this, SLOT(UpdateItem()));
}

void PLMToolBoxItem::UpdateItem()
{
    bExpanded = !bExpanded;
    pTool->setVisible(bExpanded);
    pTitleBtn->setIcon(bExpanded ? expandIcon : collapseIcon);
}

PLMToolBox::PLMToolBox(QWidget* parent)
    : QFrame(parent)
{
    QWidget* items = new QWidget;
    pItemsLayout = new QVBoxLayout(items);
    pItemsLayout->setContentsMargins(0, 0, 0, 0);
    pItemsLayout->setSpacing(0);
    pItemsLayout->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));

    pScrollArea = new QScrollArea;
    pScrollArea->setWidgetResizable(true);
    pScrollArea->setFrameShape(QFrame::NoFrame);
    pScrollArea->setWidget(items);

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pScrollArea);
}

void PLMToolBox::AddItem(QWidget* tool, const QString& title)
{
    PLMToolBoxItem* item = new PLMToolBoxItem(tool, title);
    // Before the trailing spacer.
    pItemsLayout->insertWidget(pItemsLayout->count() - 1, item);
    lItems << item;
}

PLMToolBoxItem* PLMToolBox::FindItem(QWidget* tool) const
{
    for (PLMToolBoxItem* item : lItems) {
        if (tool && item->GetTool() == tool)
            return item;
    }
    return nullptr;
}

void PLMToolBox::ShowItem(QWidget* tool, bool visible)
{
    if (PLMToolBoxItem* item = FindItem(tool))
        item->setVisible(visible);
}

void PLMToolBox::SetItemExpanded(QWidget* tool, bool expanded)
{
    PLMToolBoxItem* item = FindItem(tool);
    if (item && item->IsExpanded() != expanded)
        item->UpdateItem();
}

int PLMToolBox::GetItemHeight(QWidget* tool) const
{
    const PLMToolBoxItem* item = FindItem(tool);
    if (!item)
        return 0;
    return item->GetTitleButton()->height() + (item->IsExpanded() ? tool->height() : 0);
}

int PLMToolBox::GetTitleHeight(QWidget* tool) const
{
    const PLMToolBoxItem* item = FindItem(tool);
    return item ? item->GetTitleButton()->height() : 0;
}
