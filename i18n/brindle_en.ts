<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>ChooseFolder</name>
    <message>
        <location filename="../src/widgets/choose_folder.cpp" line="20"/>
        <source>保存業フォルダを選択してください</source>
        <translation>Choose the folder to save images in</translation>
    </message>
</context>
</TS>
