// The window resources as data: dialog templates (which controls, their texts and styles;
// each window lays them out with sizers), the menu, the string table and the command
// identifiers. Nothing here depends on the GUI toolkit; platform/ builds
// windows from it.
#pragma once

#include <string_view>
#include <vector>

namespace res {

// Command identifiers of menu 129 and the system menu.
constexpr int ID_OPEN_DATABASE = 32772;
constexpr int ID_RECOVER = 32776;
constexpr int ID_DEEP_RECOVERY = 32777;  // added after the original menu: the deep recovery
constexpr int ID_OPEN_SOURCE = 32778;    // added too: an iPhone backup or Android extraction folder
constexpr int ID_LOAD_CONTACTS = 32780;  // added too: contacts that name the conversations
constexpr int ID_QUIT = 32781;           // added too: File › Quit
constexpr int ID_TIME_ZONE = 32782;      // added too: View › Time zone
constexpr int ID_FIND = 32785;           // added too: View › Find (Ctrl+F)
constexpr int ID_SHOW_ALL = 32786;       // added too: View › which messages the view shows
constexpr int ID_SHOW_SENT = 32787;
constexpr int ID_SHOW_RECEIVED = 32788;
constexpr int ID_SHOW_RECOVERED = 32789;
constexpr int ID_SHOW_RANGE = 32790;
constexpr int ID_SHOW_SMS = 32791;
constexpr int ID_SHOW_MMS = 32792;
constexpr int ID_SHOW_IMESSAGE = 32793;
constexpr int ID_EXPORT = 32774;
constexpr int ID_ABOUT = 32779;
constexpr int ID_HOME_PAGE = 32783;
constexpr int ID_USAGE = 32784;
constexpr int IDM_ABOUTBOX = 16;  // system-menu About (kept for platforms that have one)

// Control identifiers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_MESSAGE_VIEW = 1000;
constexpr int IDC_CONVERSATION_LIST = 1002;
constexpr int IDC_PROGRESS_BAR = 1005;
constexpr int IDC_PROGRESS_TEXT = 1006;
constexpr int IDC_ABOUT_TEXT = 1012;
constexpr int IDC_EXPORT_BY_NUMBER = 1010;
constexpr int IDC_EXPORT_ONE_FILE = 1011;
constexpr int IDC_EXPORT_TYPE_GROUP = 1014;
constexpr int IDC_SELECT_FRIENDS_GROUP = 1015;
constexpr int IDC_EXPORT = 1027;
constexpr int IDC_CONTACT_LIST = 1033;
constexpr int IDC_SELECT_ALL = 1034;
constexpr int IDC_SELECT_WITH_MESSAGES = 1035;
constexpr int IDC_EXPORT_FORMAT_GROUP = 1036;  // added: the report formats beside the mode choice
constexpr int IDC_EXPORT_FORMAT = 1037;
constexpr int IDC_EXPORT_RANGE_GROUP = 1038;  // added: the time range of the exported messages
constexpr int IDC_EXPORT_SINCE_LABEL = 1039;
constexpr int IDC_EXPORT_SINCE = 1040;
constexpr int IDC_EXPORT_UNTIL_LABEL = 1041;
constexpr int IDC_EXPORT_UNTIL = 1042;

// Template and resource identifiers.
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_KESTROW_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;  // the application icon
constexpr int IDR_MENU = 129;
constexpr int IDD_PROGRESS = 130;
constexpr int IDD_EXPORT = 132;
constexpr int IDS_ABOUTBOX = 101;

enum class ControlKind { ListView, RichEdit, StaticText, Button, ProgressBar, Icon, GroupBox, RadioButton, CheckBox, Choice, Edit };

// Style bits the layer understands (a small subset of the original window styles).
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kStyleBorder = 1u << 0,
    kStyleTabStop = 1u << 1,
    kStyleVScroll = 1u << 2,
    kStyleMultiline = 1u << 3,
    kStyleWantReturn = 1u << 4,
    kStyleDefaultButton = 1u << 5,
    kStyleNoPrefix = 1u << 6,
    kStyleGroup = 1u << 7,       // first radio button of a group
    kStyleCheckBoxes = 1u << 8,  // a list view with a check box per row
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    unsigned style;
    std::string_view text;  // the template's own text (Chinese in the originals); a Choice's
                            // items separated by "|"
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate {
    std::string_view text;  // empty: a separator
    int command;
};

struct MenuTemplate {
    std::string_view text;
    std::vector<MenuItemTemplate> items;
};

const DialogTemplate& Dialog(int id);
const std::vector<MenuTemplate>& Menu(int id);
std::string_view String(int id);

// wx refuses command ids of 0x7FFF and above: every command id goes through this one mapping
// (and back) on its way to and from the toolkit. 32768-32799 become 2768-2799, clear of wx's
// stock range (4999-5999) and of the control ids.
constexpr int kCommandIdOffset = 30000;
constexpr int ToToolkitId(int id) { return id >= 32768 ? id - kCommandIdOffset : id; }
constexpr int FromToolkitId(int id) { return id >= 2768 && id < 2800 ? id + kCommandIdOffset : id; }

}  // namespace res
