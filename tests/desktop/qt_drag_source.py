#!/usr/bin/python3
"""A Qt 5 drag source, as a Qt application (a text editor, a file browser)
starts a drag: QDrag.exec_ with copy or move, from a mouse press.

  qt_drag_source.py uris|text

Shows a small window titled "kv23 qt source". Prints:
  ready                    the window is on the screen
  exec ACTION              what QDrag.exec_ answered (ignore, copy, move)
Exits after the drag, or after 20 seconds.
"""
import sys

from PyQt5.QtCore import QMimeData, Qt, QTimer, QUrl
from PyQt5.QtGui import QDrag
from PyQt5.QtWidgets import QApplication, QLabel

URIS = ["file:///tmp/kv23-one.wav", "file:///tmp/kv23-two.wav", "file:///tmp/kv23-three.wav"]
TEXT = "-12.5 dB from Qt"
NAMES = {Qt.IgnoreAction: "ignore", Qt.CopyAction: "copy", Qt.MoveAction: "move",
         Qt.LinkAction: "link"}


class Source(QLabel):
    def __init__(self, kind):
        super().__init__("drag me")
        self.kind = kind
        self.setWindowTitle("kv23 qt source")
        self.resize(140, 100)
        self.announced = False

    def showEvent(self, event):
        super().showEvent(event)
        if not self.announced:
            self.announced = True
            QTimer.singleShot(100, lambda: print("ready", flush=True))

    def mousePressEvent(self, event):
        if event.button() != Qt.LeftButton:
            return
        data = QMimeData()
        if self.kind == "uris":
            data.setUrls([QUrl(u) for u in URIS])
        else:
            data.setText(TEXT)
        drag = QDrag(self)
        drag.setMimeData(data)
        action = drag.exec_(Qt.CopyAction | Qt.MoveAction)
        print("exec " + NAMES.get(action, str(int(action))), flush=True)
        QTimer.singleShot(200, QApplication.quit)


def main():
    app = QApplication(sys.argv[:1])
    source = Source(sys.argv[1] if len(sys.argv) > 1 else "uris")
    source.show()
    QTimer.singleShot(20000, app.quit)
    app.exec_()


if __name__ == "__main__":
    main()
