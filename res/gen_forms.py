#!/usr/bin/env python3
"""Writes the main dialog and the About box from their dialog templates: the Designer forms of
the Qt front end (qt/) and the resource script of the Win32 front end (win32/). The About box
and the resource script show the version, so they are templates (qt/about_dlg.ui.in,
win32/vx418.rc.in) in which CMake puts project()'s version (cmake/Version.cmake); the version is
written nowhere else.

Rectangles are in dialog units. They are mapped the way the window system maps a dialog
template: every edge separately, x * 6 / 4 and y * 13 / 8 rounded to nearest (the horizontal
and vertical base units 6 and 13 of the template font "MS Shell Dlg" 8). The combo boxes'
template height includes their drop-down list; the field itself is COMBO_FIELD_PX high.

The resource script keeps the template as it is: dialog units, template order (which is the tab
and z-order; group boxes let clicks through on Windows), and the window styles.

Run from anywhere: python3 res/gen_forms.py
"""
from collections import namedtuple
from pathlib import Path
from xml.sax.saxutils import escape

# One control of a template: its Designer widget, its resource-script line, and whether it is
# a frame (drawn first in the form, so it never covers the controls inside).
Control = namedtuple('Control', 'ui rc frame', defaults=(False,))

BASE_X, BASE_Y = 6, 13
COMBO_FIELD_PX = 21
LIST_ITEM_PX = 13


def muldiv(a, b, c):
    return (a * b + c // 2) // c


def to_px(rect):
    x, y, w, h = rect
    left, top = muldiv(x, BASE_X, 4), muldiv(y, BASE_Y, 8)
    right, bottom = muldiv(x + w, BASE_X, 4), muldiv(y + h, BASE_Y, 8)
    return left, top, right - left, bottom - top


def prop(name, inner, stdset=True):
    attr = '' if stdset else ' stdset="0"'
    return f'<property name="{name}"{attr}>{inner}</property>'


def string(text):
    return f'<string>{escape(text)}</string>'


def boolean(value):
    return f'<bool>{"true" if value else "false"}</bool>'


def rc_id(control_id):
    return {None: '-1', 1: 'IDOK', 2: 'IDCANCEL'}.get(control_id, str(control_id))


def rc_text(text):
    return '"' + text.replace('"', '""') + '"'


def rc_line(keyword, caption, control_id, rect, styles=()):
    parts = [keyword + ' ' + (rc_text(caption) + ', ' if caption is not None else '') +
             rc_id(control_id) + ', ' + ', '.join(str(v) for v in rect)]
    if styles:
        parts.append(' | '.join(styles))
    return '    ' + ', '.join(parts)


def widget(cls, name, rect, control_id, props, combo=False):
    x, y, w, h = to_px(rect)
    extra = []
    if combo:
        extra.append(prop('maxVisibleItems', f'<number>{max(1, (h - COMBO_FIELD_PX) // LIST_ITEM_PX)}</number>'))
        h = COMBO_FIELD_PX
    geometry = prop('geometry', f'<rect><x>{x}</x><y>{y}</y><width>{w}</width><height>{h}</height></rect>')
    lines = [f'  <widget class="{cls}" name="{name}">', '   ' + geometry]
    if control_id is not None:
        lines.append('   ' + prop('controlId', f'<number>{control_id}</number>', stdset=False))
    lines += ['   ' + p for p in props + extra]
    lines.append('  </widget>')
    return '\n'.join(lines)


def static(name, control_id, caption, rect, centred=False, prefix=True):
    align = 'Qt::AlignHCenter|Qt::AlignTop' if centred else 'Qt::AlignLeft|Qt::AlignTop'
    props = [prop('text', string(caption)), prop('alignment', f'<set>{align}</set>')]
    if not prefix:
        props.append(prop('textFormat', '<enum>Qt::PlainText</enum>'))
    styles = [] if prefix else ['SS_NOPREFIX']
    return Control(widget('QLabel', name, rect, control_id, props),
                   rc_line('CTEXT' if centred else 'LTEXT', caption, control_id, rect, styles))


def group(name, caption, rect):
    return Control(widget('QGroupBox', name, rect, None, [prop('title', string(caption))]),
                   rc_line('GROUPBOX', caption, None, rect), frame=True)


def button(name, control_id, caption, rect, extra=(), rc_styles=(), default=False):
    props = [prop('text', string(caption)), prop('autoDefault', boolean(False))] + list(extra)
    return Control(widget('QPushButton', name, rect, control_id, props),
                   rc_line('DEFPUSHBUTTON' if default else 'PUSHBUTTON', caption, control_id, rect,
                           rc_styles))


def edit(name, control_id, rect, read_only=False):
    props = [prop('readOnly', boolean(True))] if read_only else []
    styles = ['ES_AUTOHSCROLL'] + (['ES_READONLY'] if read_only else [])
    return Control(widget('QLineEdit', name, rect, control_id, props),
                   rc_line('EDITTEXT', None, control_id, rect, styles))


def combo(name, control_id, rect):
    props = [prop('editable', boolean(True)),
             prop('insertPolicy', '<enum>QComboBox::NoInsert</enum>')]
    return Control(widget('VxComboBox', name, rect, control_id, props, combo=True),
                   rc_line('COMBOBOX', None, control_id, rect,
                           ['CBS_DROPDOWN', 'WS_VSCROLL', 'WS_TABSTOP']))


def tree(name, control_id, rect, check_boxes):
    props = [prop('headerHidden', boolean(True)), prop('rootIsDecorated', boolean(True)),
             prop('checkBoxes', boolean(check_boxes))]
    styles = ['TVS_HASBUTTONS', 'TVS_HASLINES', 'TVS_LINESATROOT', 'TVS_NOTOOLTIPS']
    styles += ['TVS_CHECKBOXES'] if check_boxes else []
    styles += ['WS_BORDER', 'WS_TABSTOP']
    return Control(widget('VxTreeWidget', name, rect, control_id, props),
                   f'    CONTROL "", {control_id}, "SysTreeView32", ' + ' | '.join(styles) +
                   ', ' + ', '.join(str(v) for v in rect))


def form(cls, caption, size_du, body, tabstops, custom=True):
    _, _, w, h = to_px((0, 0) + size_du)
    size = f'<size><width>{w}</width><height>{h}</height></size>'
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<!-- Written by res/gen_forms.py from the dialog template; edit that script. -->',
           '<ui version="4.0">', f' <class>{cls}</class>', f' <widget class="QDialog" name="{cls}">',
           '  ' + prop('geometry', f'<rect><x>0</x><y>0</y><width>{w}</width><height>{h}</height></rect>'),
           '  ' + prop('minimumSize', size), '  ' + prop('maximumSize', size),
           '  ' + prop('windowTitle', string(caption))]
    out += [c.ui for c in body if c.frame] + [c.ui for c in body if not c.frame]
    out.append(' </widget>')
    if custom:
        out += [' <customwidgets>',
                '  <customwidget><class>VxComboBox</class><extends>QComboBox</extends>'
                '<header>platform/qt/widgets.h</header></customwidget>',
                '  <customwidget><class>VxTreeWidget</class><extends>QTreeWidget</extends>'
                '<header>platform/qt/widgets.h</header></customwidget>',
                ' </customwidgets>']
    out.append(' <tabstops>')
    out += [f'  <tabstop>{t}</tabstop>' for t in tabstops]
    out += [' </tabstops>', ' <resources/>', ' <connections/>', '</ui>', '']
    return '\n'.join(out)


def rc_dialog(resource_id, caption, size_du, styles, ex_styles, body):
    out = [f'{resource_id} DIALOGEX 0, 0, {size_du[0]}, {size_du[1]}',
           'STYLE ' + ' | '.join(styles)]
    if ex_styles:
        out.append('EXSTYLE ' + ' | '.join(ex_styles))
    out += [f'CAPTION {rc_text(caption)}', 'FONT 8, "MS Shell Dlg", 0, 0, 0x1', 'BEGIN']
    out += [c.rc for c in body]
    out.append('END')
    return '\n'.join(out)


# The main dialog in template order, frames where the template has them (the form lifts them
# to the front of its list).
def main_controls():
    return [
        static('backup1Label', 1019, 'Backup 1: ', (245, 97, 37, 10), centred=True),
        static('connectLabel', 1023, 'Connect: ', (249, 60, 32, 8)),
        button('refreshButton', 1003, 'Refresh', (9, 54, 149, 25)),
        button('deleteReceiverButton', 1004, 'Delete Receiver', (166, 54, 65, 25)),
        static('nameLabel', None, 'Name: ', (249, 149, 24, 8)),
        edit('nameEdit', 1005, (291, 146, 133, 14)),
        button('changeNameButton', 1006, 'Change', (447, 143, 50, 14)),
        static('ipLabel', None, 'IP Address: ', (249, 167, 40, 8)),
        static('macLabel', None, 'MAC: ', (250, 183, 20, 8)),
        edit('macEdit', 1007, (291, 181, 133, 14), read_only=True),
        edit('ipEdit', 1008, (291, 162, 133, 14)),
        button('changeIpButton', 1009, 'Change', (447, 162, 50, 14)),
        group('configurationGroup', 'VX418 Configuration', (244, 134, 267, 89)),
        group('receiverGroup', 'Receiver', (243, 43, 268, 36)),
        static('backup2Label', 1020, 'Backup 2: ', (248, 113, 34, 8)),
        combo('connectPicker', 1012, (281, 58, 156, 147)),
        combo('backup1Picker', 1013, (283, 94, 154, 128)),
        combo('backup2Picker', 1014, (283, 110, 154, 109)),
        button('addConnectButton', 1015, 'Add', (447, 57, 50, 14)),
        button('addBackup1Button', 1016, 'Add', (447, 93, 50, 14)),
        button('addBackup2Button', 1017, 'Add', (447, 110, 50, 14)),
        tree('connectionsTree', 1002, (9, 82, 225, 138), check_boxes=True),
        group('logGroup', 'Log', (243, 225, 268, 105)),
        # The Log pane scrolls down as lines are appended (ES_AUTOVSCROLL): without it the
        # edit control refuses appended lines once the visible ones are full.
        Control(widget('QPlainTextEdit', 'logPane', (247, 235, 257, 88), 1018, [
            prop('lineWrapMode', '<enum>QPlainTextEdit::NoWrap</enum>'),
            prop('verticalScrollBarPolicy', '<enum>Qt::ScrollBarAlwaysOn</enum>'),
            prop('horizontalScrollBarPolicy', '<enum>Qt::ScrollBarAlwaysOn</enum>'),
            prop('tabChangesFocus', boolean(True)),
            prop('undoRedoEnabled', boolean(False)),
        ]), rc_line('EDITTEXT', None, 1018, (247, 235, 257, 88),
                    ['ES_MULTILINE', 'ES_AUTOHSCROLL', 'ES_AUTOVSCROLL', 'ES_WANTRETURN',
                     'WS_VSCROLL', 'WS_HSCROLL'])),
        static('topologyLabel', 1026, 'Topology: ', (250, 202, 43, 8)),
        combo('topologyCombo', 1021, (291, 201, 133, 59)),
        button('changeTopologyButton', 1022, 'Change', (447, 199, 50, 14)),
        group('connectionsGroup', 'Connections', (2, 43, 236, 181)),
        group('adaptersGroup', 'Network Adapters', (2, 10, 508, 29)),
        combo('adapterCombo', 1024, (9, 21, 430, 81)),
        button('setAdapterButton', 1025, 'Set Adapter', (447, 20, 50, 14)),
        group('backupGroup', 'Backup Receivers', (244, 83, 267, 50)),
        group('availableGroup', 'Available Receivers', (2, 225, 236, 105)),
        tree('availableTree', 1010, (9, 236, 223, 87), check_boxes=False),
        button('cancelButton', 2, 'Cancel', (498, 223, 16, 11), [prop('visible', boolean(False))],
               rc_styles=['NOT WS_VISIBLE']),
        button('okButton', 1, 'OK', (475, 225, 15, 10),
               [prop('visible', boolean(False)), prop('enabled', boolean(False)),
                prop('default', boolean(True))],
               rc_styles=['NOT WS_VISIBLE', 'WS_DISABLED'], default=True),
    ]


MAIN_STYLES = ['DS_SETFONT', 'DS_MODALFRAME', 'DS_FIXEDSYS', 'WS_POPUP', 'WS_VISIBLE',
               'WS_CAPTION', 'WS_SYSMENU']


def main_dialog():
    tabstops = ['refreshButton', 'deleteReceiverButton', 'nameEdit', 'changeNameButton', 'macEdit',
                'ipEdit', 'changeIpButton', 'connectPicker', 'backup1Picker', 'backup2Picker',
                'addConnectButton', 'addBackup1Button', 'addBackup2Button', 'connectionsTree',
                'logPane', 'topologyCombo', 'changeTopologyButton', 'adapterCombo',
                'setAdapterButton', 'availableTree', 'cancelButton', 'okButton']
    return form('CVX418Dlg', 'VX418 Management Utility', (521, 337), main_controls(), tabstops)


def about_controls():
    icon = Control(widget('QLabel', 'iconLabel', (11, 17, 20, 20), None, [
        prop('pixmap', '<pixmap resource="vx418.qrc">:/icons/app.png</pixmap>'),
        prop('alignment', '<set>Qt::AlignLeft|Qt::AlignTop</set>')]),
        '    ICON 128, -1, 11, 17, 20, 20')
    return [
        icon,
        static('versionLabel', None, 'VX418 Version @PROJECT_VERSION@', (40, 10, 119, 8),
               prefix=False),
        static('noteLabel', None, 'Configures VX418 units', (40, 25, 119, 8)),
        button('okButton', 1, 'OK', (178, 7, 50, 16), [prop('default', boolean(True))],
               rc_styles=['WS_GROUP'], default=True),
    ]


def about_dialog():
    return form('CAboutDlg', 'About VX418', (235, 55), about_controls(), ['okButton'],
                custom=False)


def resource_script():
    return '\n'.join([
        '// Written by res/gen_forms.py from the dialog templates; edit that script. CMake puts',
        '// the version in (cmake/Version.cmake).',
        '#include <windows.h>',
        '#include <commctrl.h>',
        '',
        '// Common controls 6 (visual styles) and no elevation.',
        'CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST "vx418.manifest"',
        '',
        '128 ICON "icons/app.ico"',
        '129 ICON "icons/ball_red.ico"',
        '130 ICON "icons/ball_green.ico"',
        '',
        'STRINGTABLE',
        'BEGIN',
        '    101 "&About VX418..."',
        'END',
        '',
        rc_dialog(102, 'VX418 Management Utility', (521, 337), MAIN_STYLES, ['WS_EX_APPWINDOW'],
                  main_controls()),
        '',
        rc_dialog(100, 'About VX418', (235, 55),
                  ['DS_SETFONT', 'DS_MODALFRAME', 'DS_FIXEDSYS', 'WS_POPUP', 'WS_CAPTION',
                   'WS_SYSMENU'], [], about_controls()),
        '',
        '// The file version: the project version, put in by CMake.',
        'VS_VERSION_INFO VERSIONINFO',
        'FILEVERSION @PROJECT_VERSION_MAJOR@, @PROJECT_VERSION_MINOR@, @PROJECT_VERSION_PATCH@, 0',
        'PRODUCTVERSION @PROJECT_VERSION_MAJOR@, @PROJECT_VERSION_MINOR@, @PROJECT_VERSION_PATCH@, 0',
        'FILEOS VOS_NT_WINDOWS32',
        'FILETYPE VFT_APP',
        'BEGIN',
        '    BLOCK "StringFileInfo"',
        '    BEGIN',
        '        BLOCK "040904b0"',
        '        BEGIN',
        '            VALUE "FileDescription", "VX418 Management Utility"',
        '            VALUE "FileVersion", "@PROJECT_VERSION@"',
        '            VALUE "ProductName", "VX418 Management Utility"',
        '            VALUE "ProductVersion", "@PROJECT_VERSION@"',
        '            VALUE "OriginalFilename", "vx418.exe"',
        '        END',
        '    END',
        '    BLOCK "VarFileInfo"',
        '    BEGIN',
        '        VALUE "Translation", 0x409, 1200',
        '    END',
        'END',
        '',
    ])


if __name__ == '__main__':
    here = Path(__file__).resolve().parent
    (here / 'qt' / 'cvx418_dlg.ui').write_text(main_dialog())
    (here / 'qt' / 'about_dlg.ui.in').write_text(about_dialog())
    (here / 'win32' / 'vx418.rc.in').write_text(resource_script())
