// The component's messages and its exception, the same on every system.
#include "serial/Commx.h"

namespace commmsg {
const char *const AlreadyOpen = "ポートは、すでにオープンされています";
const char *const CannotOpen = "ポートをオープンできませんでした";
const char *const DialoutHint = "シリアルポートを使うには、ユーザーが dialout グループに入っている必要があります";
const char *const Buffer = "通信用ポートのバッファを準備できませんでした";
const char *const BitRate = "通信速度の設定でエラーが発生しました";
const char *const CharSize = "通信ビット数の設定でエラーが発生しました";
const char *const Parity = "通信パリティチェックの設定でエラーが発生しました";
const char *const StopBit = "通信ストップビット数の設定でエラーが発生しました";
const char *const FlowCtrl = "通信フロー制御の設定で失敗しました";
const char *const TimeOut = "通信タイムアウト時間の設定で失敗しました";
const char *const XonChar = "Ｘｏｎ文字の設定でエラーが発生しました";
const char *const XoffChar = "Ｘｏｆｆ文字の設定でエラーが発生しました";
const char *const TransThread = "送信用スレッドを生成できませんでした";
const char *const ReceiveThread = "受信用スレッドを生成できませんでした";
const char *const PortLost = "通信ポートとの接続が切れました\n通信設定でポートを開き直してください";
const char *const PortReturns = "装置が戻ると、VOLTRAK が自動でポートを開き直します";
} // namespace commmsg

ECommError::ECommError(const QString &message)
    : std::runtime_error(message.toUtf8().toStdString())
{ }
