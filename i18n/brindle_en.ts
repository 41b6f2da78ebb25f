<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>AccountDialog</name>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="5"/>
        <source>オンラインストレージの設定</source>
        <translation>Online storage settings</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="25"/>
        <source>暗号化</source>
        <translation>Encryption</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="36"/>
        <source>サーバ証明書を検証しない</source>
        <translation>Accept any server certificate</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="41"/>
        <source>ユーザ名</source>
        <translation>User name</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="52"/>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="64"/>
        <source>パスワード確認</source>
        <translation>Confirm password</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="76"/>
        <source>接続時ストレージ読み出し間隔</source>
        <translation>Storage read interval while connected</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="88"/>
        <source>秒</source>
        <translation>seconds</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="93"/>
        <source>待機時ストレージ読み出し間隔</source>
        <translation>Storage read interval while waiting</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="110"/>
        <source>サスペンド復帰間隔</source>
        <translation>Wake from suspend every</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="122"/>
        <source>分</source>
        <translation>minutes</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="143"/>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.ui" line="150"/>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="18"/>
        <source>ストレージ読み出し間隔</source>
        <translation>Storage read interval</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="19"/>
        <source>オンラインストレージ設定を保存できません(0x%1)</source>
        <translation>Cannot save the online storage settings (0x%1)</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="20"/>
        <source>URIにhttp://またはhttps://がありません!</source>
        <translation>The URI lacks http:// or https://!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="21"/>
        <source>URIが正しくありません!</source>
        <translation>The URI is not valid!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="22"/>
        <source>ユーザ名が入力されていません!</source>
        <translation>No user name entered!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="23"/>
        <source>ユーザ名が正しくありません!</source>
        <translation>The user name is not valid!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="24"/>
        <source>パスワードが入力されていません!</source>
        <translation>No password entered!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="25"/>
        <source>パスワードの入力が一致しません!</source>
        <translation>The passwords do not match!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="26"/>
        <source>パスワードが正しくありません!</source>
        <translation>The password is not valid!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="27"/>
        <source>接続時ストレージ読み出し間隔が正しくありません!</source>
        <translation>The storage read interval while connected is not valid!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="28"/>
        <source>待機時ストレージ読み出し間隔が正しくありません!</source>
        <translation>The storage read interval while waiting is not valid!</translation>
    </message>
    <message>
        <location filename="../src/widgets/account_dialog.cpp" line="29"/>
        <source>ストレージ確認サスペンド復帰間隔が正しくありません!</source>
        <translation>The wake interval for storage checks is not valid!</translation>
    </message>
</context>
<context>
    <name>ChooseFolder</name>
    <message>
        <location filename="../src/widgets/choose_folder.cpp" line="20"/>
        <source>保存業フォルダを選択してください</source>
        <translation>Choose the folder to save images in</translation>
    </message>
</context>
</TS>
