// The two previews under and beside the lists.
#include "mainwindow.h"

#include <QDebug>

void MainWindow::TgtSelChanged(const QItemSelection&, const QItemSelection&) { qDebug() << "MainWindow::TgtSelChanged"; }
void MainWindow::UpdateSrcPreview(const QImage&) {}
void MainWindow::UpdateTgtPreview(const QImage&) {}
void MainWindow::PreviewSrc(QModelIndex) {}
void MainWindow::PreviewTgt(QModelIndex) {}
void MainWindow::PreviewSrc(QMouseEvent*) {}
void MainWindow::PreviewTgt(QMouseEvent*) {}
void MainWindow::UpdateSrcPreview() {}
