// Source list: adding, removing and selecting sources.
#include "mainwindow.h"

#include <QDebug>

void MainWindow::AddSrcFiles() { qDebug() << "MainWindow::AddSrcFiles"; }
void MainWindow::AddSrcFolder() { qDebug() << "MainWindow::AddSrcFolder"; }
void MainWindow::SrcSelChanged(const QItemSelection&, const QItemSelection&) { qDebug() << "MainWindow::SrcSelChanged"; }
void MainWindow::SelectAllSrc() { qDebug() << "MainWindow::SelectAllSrc"; }
void MainWindow::RemoveSrc() { qDebug() << "MainWindow::RemoveSrc"; }
void MainWindow::dropEvent(QDropEvent*) { qDebug() << "MainWindow::dropEvent"; }
QString MainWindow::GetSrcFmtFilter() { return QString(); }
void MainWindow::UpdateStatusBar() {}
