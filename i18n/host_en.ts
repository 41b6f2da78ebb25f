<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>HostMainWindow</name>
    <message>
        <location filename="../src/server/app/main_window.ui" line="+15"/>
        <source>カメラ</source>
        <translation>Camera</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>使用する</source>
        <translation>Use</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>解像度</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>プロパティ</source>
        <translation>Properties</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>プレビュー</source>
        <translation>Preview</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>品質 </source>
        <translation>Quality </translation>
    </message>
    <message>
        <location line="+17"/>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>周期</source>
        <translation>Cycle</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>送信する</source>
        <translation>Send</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>変化のない画像を間引く</source>
        <translation>Skip unchanged images</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>変化検出感度</source>
        <translation>Change sensitivity</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>検出</source>
        <translation>Change</translation>
    </message>
    <message>
        <location line="+30"/>
        <source>画像を保存フォルダに保存</source>
        <translation>Save images in the image folder</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>画像保持日数</source>
        <translation>Days to keep</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>保存</source>
        <translation>Saved</translation>
    </message>
    <message>
        <location line="+28"/>
        <source>日時埋め込み</source>
        <translation>Date and time stamp</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>無し</source>
        <translation>None</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>左上</source>
        <translation>Top left</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>右上</source>
        <translation>Top right</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>左下</source>
        <translation>Bottom left</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>右下</source>
        <translation>Bottom right</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>フォント</source>
        <translation>Font</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>送信画像数</source>
        <translation>Images sent</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>送信中止数</source>
        <translation>Images dropped</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>画像を表示</source>
        <translation>Show images</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>クライアントに接続中はスリープしない</source>
        <translation>No sleep while a client is connected</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>送信画像の暗号化</source>
        <translation>Image encryption</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>暗号化に失敗しています！</source>
        <translation>Encryption is failing!</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>保存フォルダ</source>
        <translation>Image folder</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>参照</source>
        <translation>Browse</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>パスワード確認</source>
        <translation>Confirm password</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>サーバポート</source>
        <translation>Server port</translation>
    </message>
    <message>
        <location line="+69"/>
        <source>オンラインストレージを経由して
クライアントと接続</source>
        <translation>Connect to clients
through online storage</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>ログを表示</source>
        <translation>Show log</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>ログを消去</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <location filename="../src/server/app/main_window.cpp" line="+65"/>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>トリプルDES</source>
        <translation>Triple DES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>112ビット２キーDES</source>
        <translation>112-bit two-key DES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>128ビットAES</source>
        <translation>128-bit AES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>192ビットAES</source>
        <translation>192-bit AES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>256ビットAES</source>
        <translation>256-bit AES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>RC2ブロック</source>
        <translation>RC2 block</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>と接続中</source>
        <translation> connecting</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>と接続</source>
        <translation> connected</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>と切断中</source>
        <translation> disconnecting</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>と切断</source>
        <translation> disconnected</translation>
    </message>
    <message>
        <location line="+115"/>
        <source>カメラ情報を格納するメモリ確保に失敗しました!</source>
        <translation>Could not allocate memory for the camera information!</translation>
    </message>
    <message>
        <location line="+243"/>
        <source>保存フォルダのパスが長すぎます(%1バイトまで)。</source>
        <translation>The image folder path is too long (at most %1 bytes).</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>設定ファイル%1に書き込めません(0x%2)</source>
        <translation>Cannot write the settings file %1 (0x%2)</translation>
    </message>
    <message>
        <location line="+19"/>
        <source>ログファイル%1を開けません</source>
        <translation>Cannot open the log file %1</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>ログを消去しますか?</source>
        <translation>Clear the log?</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>終了しますか?</source>
        <translation>Exit?</translation>
    </message>
    <message>
        <location line="+40"/>
        <source>開く(&amp;O)</source>
        <translation>&amp;Open</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>バージョン情報(&amp;V)</source>
        <translation>&amp;Version</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <location line="+43"/>
        <source>カメラ#&amp;%1 %2</source>
        <translation>Camera #&amp;%1 %2</translation>
    </message>
    <message>
        <location line="+125"/>
        <source>保存フォルダ %1
が見つかりません。作成しますか?</source>
        <translation>Image folder %1
not found. Create it?</translation>
    </message>
    <message>
        <location filename="../src/server/app/window_run.cpp" line="+70"/>
        <source>ウインドウを作成できませんでした。実行を中止します!</source>
        <translation>Could not create the window. The program stops!</translation>
    </message>
    <message>
        <location filename="../src/server/app/main_window_property.cpp"/>
        <source>このカメラには設定できる項目がありません</source>
        <translation>This camera has no controls to set</translation>
    </message>
</context>
<context>
    <name>HostPropertyDialog</name>
    <message>
        <location filename="../src/server/app/host_property_dialog.ui"/>
        <source>プロパティ</source>
        <translation>Properties</translation>
    </message>
</context>
</TS>
