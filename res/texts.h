// Every text the launcher shows. The source is UTF-8; the builds turn narrow
// literals into code page 932 (-fexec-charset=CP932), the program's ANSI code page.
#pragma once

namespace kv::text {

// Title of the dialog and caption of every message box it owns.
inline constexpr char kUpdateCaption[] = "Kelvaro for Win ﾊﾞｰｼﾞｮﾝｱｯﾌﾟ";

inline constexpr char kNotInstalled[] =
    "Kelvaro for Win がｲﾝｽﾄｰﾙされていません。\n"
    "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟの前に Kelvaro for Win をｲﾝｽﾄｰﾙしてください。";
inline constexpr char kInstalledIncorrectly[] =
    "Kelvaro for Win が正しくｲﾝｽﾄｰﾙされていません。\n"
    "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟの前に Kelvaro for Win を再ｲﾝｽﾄｰﾙしてください。";
inline constexpr char kAlreadyCurrent[] =
    "すでに最新のﾊﾞｰｼﾞｮﾝがｲﾝｽﾄｰﾙされているので、ｱｯﾌﾟﾃﾞｰﾄの必要はありません。";

// Directory, an empty line, then a tab and the version transition.
inline constexpr char kStatusFormat[] = "%s\n\n\tVersion:%s -> %s";

inline constexpr char kUpdateCompleted[] = "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟが完了しました。";
inline constexpr char kUpdateFailed[] =
    "ﾊﾞｰｼﾞｮﾝｱｯﾌﾟが完了しませんでした。再ｲﾝｽﾄｰﾙ後、もう一度実行してください。";

// The one box outside the dialog: the wait for the update program failed.
inline constexpr char kWaitFailedCaption[] = "CreateProcess Error";
inline constexpr char kWaitFailedText[] = "WaitForSingleObject";

}  // namespace kv::text
