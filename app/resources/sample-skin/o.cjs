/*
 * Orvendel sample skin "Harbour": a Qt style sheet.
 * To use it, copy it to x/o.cjs in the program's folder; the login window takes it at start-up.
 */

QPushButton {
    background-color: #2f5d8a;
    color: #ffffff;
    border: 1px solid #23486c;
    border-radius: 4px;
    padding: 4px 14px;
}

QPushButton:hover {
    background-color: #3b72a8;
}

QPushButton:pressed {
    background-color: #23486c;
}

QPushButton:focus {
    border-color: #f0b429;
}

QLineEdit, QListWidget {
    background-color: #ffffff;
    border: 1px solid #7d93a8;
    border-radius: 3px;
    padding: 1px 3px;
    selection-background-color: #2f5d8a;
    selection-color: #ffffff;
}

QLineEdit:focus {
    border-color: #2f5d8a;
}

QGroupBox {
    border: 1px solid #7d93a8;
    border-radius: 4px;
    margin-top: 10px;
}

QGroupBox::title {
    subcontrol-origin: margin;
    left: 10px;
    padding: 0 4px;
    color: #23486c;
}

QMenu {
    background-color: #ffffff;
    border: 1px solid #7d93a8;
}

QMenu::item:selected {
    background-color: #2f5d8a;
    color: #ffffff;
}
