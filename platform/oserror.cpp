#include "platform/oserror.h"
#include "platform/japanese.h"

#include <cerrno>

namespace kestrovia {

QString systemErrorReason(int err)
{
    switch (err) {
    case ENOSPC: return ja("ディスクの空き容量が足りません");
    case EDQUOT: return ja("ディスクの使用量が上限に達しています");
    case EACCES:
    case EPERM: return ja("アクセスする権限がありません");
    case EROFS: return ja("読み取り専用の場所のため書き込めません");
    case ENOENT: return ja("ファイルまたはフォルダが見つかりません");
    case ENOTDIR: return ja("パスの途中にフォルダではないものがあります");
    case EISDIR: return ja("同じ名前のフォルダがあります");
    case ENAMETOOLONG: return ja("ファイル名またはパスが長すぎます");
    case ELOOP: return ja("シンボリックリンクが循環しています");
    case EEXIST: return ja("同じ名前のファイルがすでにあります");
    case EIO: return ja("読み書き中に入出力エラーが発生しました（ディスクや接続を確認してください）");
    case ENXIO:
    case ENODEV: return ja("装置が接続されていません");
    case EFBIG: return ja("ファイルが大きすぎます");
    case ENOMEM: return ja("メモリが足りません");
    case EMFILE:
    case ENFILE: return ja("開いているファイルが多すぎます");
    case EBUSY:
    case ETXTBSY: return ja("ファイルが使用中です");
    case EXDEV: return ja("別のドライブへは移動できません");
    case EAGAIN: return ja("ファイルの準備ができていません");
    case ESTALE: return ja("ネットワーク上のファイルが無効になりました");
    case EINTR: return ja("処理が中断されました");
    default: return ja("システムエラーが発生しました（エラー番号 %1）").arg(err);
    }
}

} // namespace kestrovia
