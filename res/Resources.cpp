// The templates, menu and strings of the program, as the original resource script gave them.
#include "res/Resources.h"

#include <stdexcept>

namespace res {

namespace {

const DialogTemplate kAbout = {
    IDD_ABOUTBOX, "关于 Kestrow",
    {
        {IDR_MAINFRAME, ControlKind::Icon, kStyleNone, ""},
        {IDC_ABOUT_TEXT, ControlKind::StaticText, kStyleNoPrefix, "Kestrow，1.0 版"},
        {IDOK, ControlKind::Button, kStyleDefaultButton | kStyleTabStop, "确定"},
    }};

const DialogTemplate kMain = {
    IDD_KESTROW_DIALOG, "Kestrow",
    {
        {IDC_CONVERSATION_LIST, ControlKind::ListView, kStyleBorder | kStyleTabStop, ""},
        {IDC_MESSAGE_VIEW, ControlKind::RichEdit,
         kStyleBorder | kStyleVScroll | kStyleMultiline | kStyleWantReturn, ""},
    }};

const DialogTemplate kProgress = {
    IDD_PROGRESS, "正在恢复……",
    {
        {IDC_PROGRESS_BAR, ControlKind::ProgressBar, kStyleBorder, ""},
        {IDC_PROGRESS_TEXT, ControlKind::StaticText, kStyleNone, ""},
        // Added: stops the run; what it found so far is thrown away.
        {IDCANCEL, ControlKind::Button, kStyleTabStop, "取消"},
    }};

const DialogTemplate kExport = {
    IDD_EXPORT, "导出短信",
    {
        {IDC_EXPORT_TYPE_GROUP, ControlKind::GroupBox, kStyleNone, "导出类型"},
        {IDC_EXPORT_BY_NUMBER, ControlKind::RadioButton, kStyleGroup | kStyleTabStop, "按号码导出到不同的txt文件"},
        {IDC_EXPORT_ONE_FILE, ControlKind::RadioButton, kStyleNone, "导出到一个txt文件"},
        {IDC_SELECT_FRIENDS_GROUP, ControlKind::GroupBox, kStyleNone, "选择好友"},
        {IDC_CONTACT_LIST, ControlKind::ListView, kStyleBorder | kStyleTabStop | kStyleCheckBoxes, ""},
        {IDC_SELECT_ALL, ControlKind::CheckBox, kStyleTabStop, "全选"},
        {IDC_SELECT_WITH_MESSAGES, ControlKind::Button, kStyleTabStop, "选择有短信的好友"},
        {IDC_EXPORT, ControlKind::Button, kStyleDefaultButton | kStyleTabStop, "导出"},
        {IDCANCEL, ControlKind::Button, kStyleTabStop, "取消"},
        // Added: the format of the files.
        {IDC_EXPORT_FORMAT_GROUP, ControlKind::GroupBox, kStyleNone, "格式"},
        {IDC_EXPORT_FORMAT, ControlKind::Choice, kStyleTabStop, "文本|HTML|CSV|JSON"},
        // Added: the time range of the messages written (empty: no limit).
        {IDC_EXPORT_RANGE_GROUP, ControlKind::GroupBox, kStyleNone, "时间范围"},
        {IDC_EXPORT_SINCE_LABEL, ControlKind::StaticText, kStyleNone, "从 (YYYY-MM-DD)"},
        {IDC_EXPORT_SINCE, ControlKind::Edit, kStyleBorder | kStyleTabStop, ""},
        {IDC_EXPORT_UNTIL_LABEL, ControlKind::StaticText, kStyleNone, "到 (YYYY-MM-DD)"},
        {IDC_EXPORT_UNTIL, ControlKind::Edit, kStyleBorder | kStyleTabStop, ""},
    }};

// Menu 129 as the resource gave it; the window renames the items to English at start-up.
const std::vector<MenuTemplate> kMenu = {
    {"文件(&F)",
     {{"打开短信数据库(&O)", ID_OPEN_DATABASE},
      {"打开备份或提取文件夹(&B)…", ID_OPEN_SOURCE},
      {"载入联系人(&C)…", ID_LOAD_CONTACTS},
      {"恢复已删除短信(&R)", ID_RECOVER},
      {"深度恢复(&D)", ID_DEEP_RECOVERY},
      {"", 0},
      {"导出(&E)", ID_EXPORT},
      {"", 0},
      {"退出(&Q)\tCtrl+Q", ID_QUIT}}},
    {"查看(&V)",
     {{"查找(&F)…\tCtrl+F", ID_FIND},
      {"时区(&Z)…", ID_TIME_ZONE},
      {"", 0},
      {"显示全部短信(&A)", ID_SHOW_ALL},
      {"只显示发出的短信(&S)", ID_SHOW_SENT},
      {"只显示收到的短信(&R)", ID_SHOW_RECEIVED},
      {"只显示恢复的短信(&E)", ID_SHOW_RECOVERED},
      {"按时间范围显示(&T)…", ID_SHOW_RANGE},
      {"只显示短信 SMS(&O)", ID_SHOW_SMS},
      {"只显示彩信 MMS(&M)", ID_SHOW_MMS},
      {"只显示 iMessage(&I)", ID_SHOW_IMESSAGE}}},
    {"帮助(&H)", {{"关于(&A)", ID_ABOUT}, {"主页", ID_HOME_PAGE}, {"使用方法", ID_USAGE}}},
};

}  // namespace

const DialogTemplate& Dialog(int id)
{
    switch (id) {
    case IDD_ABOUTBOX: return kAbout;
    case IDD_KESTROW_DIALOG: return kMain;
    case IDD_PROGRESS: return kProgress;
    case IDD_EXPORT: return kExport;
    default: throw std::out_of_range("no dialog template " + std::to_string(id));
    }
}

const std::vector<MenuTemplate>& Menu(int id)
{
    if (id != IDR_MENU) throw std::out_of_range("no menu " + std::to_string(id));
    return kMenu;
}

std::string_view String(int id)
{
    if (id == IDS_ABOUTBOX) return "关于 Kestrow(&A)...";
    return {};
}

}  // namespace res
