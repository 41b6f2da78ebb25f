<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>ClientMainWindow</name>
    <message>
        <location filename="../src/client/app/client_window.ui" line="+9"/>
        <source>Brindle View</source>
        <translation>Brindle View</translation>
    </message>
    <message>
        <location line="+53"/>
        <source>接続</source>
        <translation>Connect</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>切断</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>起動時に自動接続</source>
        <translation>Connect at start-up</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>カメラ</source>
        <translation>Camera</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>使用する</source>
        <translation>Use</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>解像度</source>
        <translation>Resolution</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>プロパティ</source>
        <translation>Properties</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>プレビュー</source>
        <translation>Preview</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>品質 </source>
        <translation>Quality </translation>
    </message>
    <message>
        <location line="+20"/>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>送信する</source>
        <translation>Send</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>周期</source>
        <translation>Cycle</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>変化のない画像を間引く</source>
        <translation>Skip unchanged images</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>変化検出感度</source>
        <translation>Change sensitivity</translation>
    </message>
    <message>
        <location line="+23"/>
        <location line="+232"/>
        <source>画像を保存フォルダに保存</source>
        <translation>Save images in the save folder</translation>
    </message>
    <message>
        <location line="-225"/>
        <location line="+232"/>
        <source>画像保持日数</source>
        <translation>Days to keep images</translation>
    </message>
    <message>
        <location line="-212"/>
        <source>日時埋め込み</source>
        <translation>Date and time stamp</translation>
    </message>
    <message>
        <location line="+9"/>
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
        <location line="+10"/>
        <source>送信画像数</source>
        <translation>Images sent</translation>
    </message>
    <message>
        <location line="+10"/>
        <location line="+17"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location line="-10"/>
        <source>送信中止数</source>
        <translation>Sends abandoned</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>画像を表示</source>
        <translation>Show images</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>クライアントに接続中はスリープしない</source>
        <translation>Do not sleep while a client is connected</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>送信画像の暗号化</source>
        <translation>Image encryption</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>暗号化されていません！</source>
        <translation>Not encrypted!</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>サーバに設定</source>
        <translation>Set on server</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>保存フォルダ</source>
        <translation>Save folder</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>参照</source>
        <translation>Browse</translation>
    </message>
    <message>
        <location line="+45"/>
        <source>ログを表示</source>
        <translation>Show log</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>ログを消去</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <location filename="../src/client/app/client_window.cpp" line="+87"/>
        <source>接続中</source>
        <comment>state</comment>
        <translation>Connecting</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>接続</source>
        <comment>state</comment>
        <translation>Connected</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>切断中</source>
        <comment>state</comment>
        <translation>Disconnecting</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>切断</source>
        <comment>state</comment>
        <translation>Disconnected</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>サーバ設定の保存ファイルが作成できません!</source>
        <translation>Cannot create the file for the server settings!</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>サーバ設定の保存ファイルに書き込みできません!</source>
        <translation>Cannot write the file for the server settings!</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>メモリが確保できません!</source>
        <translation>Cannot allocate memory!</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>サーバ%1から応答がないため切断・再接続します。</source>
        <translation>Server %1 does not answer; disconnecting and connecting again.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>画像要求時にサーバでエラーが発生しました(%1)!</source>
        <translation>The server reported an error on the camera request (%1)!</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>トリプルDES</source>
        <translation>Triple DES</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>112ビット２キーDES</source>
        <translation>112-bit two-key DES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>128ビットAES</source>
        <translation>128-bit AES</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>192ビットAES</source>
        <translation>192-bit AES</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>256ビットAES</source>
        <translation>256-bit AES</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>DES</source>
        <translation>DES</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>RC2ブロック</source>
        <translation>RC2 block</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>RC4</source>
        <translation>RC4</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>保存フォルダ %1
が見つかりません。作成しますか?</source>
        <translation>Save folder %1
not found. Create it?</translation>
    </message>
    <message>
        <location line="+120"/>
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
        <location line="+164"/>
        <source>サーバ接続スレッドの作成に失敗しました!</source>
        <translation>Could not start the server connection thread!</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>オンラインストレージ中継: コンピュータ名またはサーバ名が使えません(英数字・_・-の63文字以内)</source>
        <translation>Online storage relay: the computer name or the server name cannot be used (up to 63 letters, digits, _ or -)</translation>
    </message>
    <message>
        <location line="+295"/>
        <source>%1 カメラ#&amp;%2 %3</source>
        <translation>%1 Camera #&amp;%2 %3</translation>
    </message>
    <message>
        <location line="+111"/>
        <source>設定ファイル %1 に %2 を保存できません (0x%3)</source>
        <translation>Cannot save %2 in the settings file %1 (0x%3)</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>保存フォルダのパスが長すぎます (%1 バイトまで)</source>
        <translation>The save folder path is too long (at most %1 bytes)</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>ログを消去しますか?</source>
        <translation>Clear the log?</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>終了しますか?</source>
        <translation>Exit?</translation>
    </message>
</context>
<context>
    <name>PasswordDialog</name>
    <message>
        <location filename="../src/client/app/password_dialog.ui" line="+9"/>
        <location filename="../src/client/app/password_dialog.cpp" line="+35"/>
        <source>パスワードの入力 - %1</source>
        <translation>Enter password - %1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>パスワード確認</source>
        <translation>Confirm password</translation>
    </message>
    <message>
        <location filename="../src/client/app/password_dialog.cpp" line="-7"/>
        <source>パスワードの入力が一致しません!</source>
        <translation>The passwords do not match!</translation>
    </message>
</context>
<context>
    <name>RemotePropertyDialog</name>
    <message>
        <location filename="../src/client/app/remote_property_dialog.ui"/>
        <location filename="../src/client/app/remote_property_dialog.cpp"/>
        <source>プロパティ</source>
        <translation>Properties</translation>
    </message>
    <message>
        <location filename="../src/client/app/remote_property_dialog.ui"/>
        <source>サーバ操作中</source>
        <translation>The server is working on it</translation>
    </message>
</context>
</TS>
