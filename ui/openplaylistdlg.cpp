#include "ui/openplaylistdlg.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "document/playlistdocument.h"
#include "kit/fixedtext.h"
#include "ui/dialogbuttonrow.h"

COpenPlayListDlg::COpenPlayListDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Playlists"));
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_list->setMinimumSize(240, 150);
    QHBoxLayout* buttons = MakeDialogButtonRow(this, QStringLiteral("&OK"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_list, &QListWidget::itemSelectionChanged, this,
            &COpenPlayListDlg::OnSelectionChanged);
    connect(m_list, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OnDoubleClicked(m_list->row(item)); });

    std::vector<std::string> names;
    PlaylistDocument::StoredPlaylists(names);
    for (const std::string& name : names) {
        m_list->addItem(fixedtext::FromFixed(name.c_str()));
    }
    if (m_list->count() > 0) {
        m_list->setCurrentRow(0);
        OnSelectionChanged();
    }
}

void COpenPlayListDlg::OnSelectionChanged() {
    const int row = m_list->currentRow();
    if (row >= 0 && m_list->count() > 0 && m_list->item(row)->isSelected()) {
        m_strSelected = m_list->item(row)->text();
    }
}

void COpenPlayListDlg::OnDoubleClicked(int row) {
    if (row < 0 || row >= m_list->count()) {
        return;
    }
    m_list->setCurrentRow(row);
    OnSelectionChanged();
    accept();
}

void COpenPlayListDlg::Preselect(const QString& name) {
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->item(row)->text() == name) {
            m_list->setCurrentRow(row);
            OnSelectionChanged();
            return;
        }
    }
}

void COpenPlayListDlg::showEvent(QShowEvent* event) {
    setWindowTitle(m_strCaption);
    QDialog::showEvent(event);
}
