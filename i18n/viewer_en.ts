<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>DateDialog</name>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="5"/>
        <source>日時指定</source>
        <translation>Date and Time</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="18"/>
        <source>年</source>
        <translation>Year</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="30"/>
        <source>月</source>
        <translation>Month</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="42"/>
        <source>日</source>
        <translation>Day</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="54"/>
        <source>時</source>
        <translation>Hour</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="66"/>
        <source>分</source>
        <translation>Minute</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="78"/>
        <source>秒</source>
        <translation>Second</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="92"/>
        <source>表示</source>
        <translation>Show</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/date_dialog.ui" line="99"/>
        <source>中止</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>ImageViewerWindow</name>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="17"/>
        <source>＜＜</source>
        <translation>&lt;&lt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="25"/>
        <source>＜日</source>
        <translation>&lt;Day</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="33"/>
        <source>＜時</source>
        <translation>&lt;Hour</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="41"/>
        <source>＜分</source>
        <translation>&lt;Min</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="49"/>
        <source>＜</source>
        <translation>&lt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="57"/>
        <source>｜｜</source>
        <translation>||</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="65"/>
        <source>＞</source>
        <translation>&gt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="73"/>
        <source>分＞</source>
        <translation>Min&gt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="81"/>
        <source>時＞</source>
        <translation>Hour&gt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="89"/>
        <source>日＞</source>
        <translation>Day&gt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="97"/>
        <source>＞＞</source>
        <translation>&gt;&gt;</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="105"/>
        <source>最新</source>
        <translation>Latest</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.ui" line="113"/>
        <source>手前</source>
        <translation>On top</translation>
    </message>
</context>
<context>
    <name>brindle::ImageViewerWindow</name>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="331"/>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="318"/>
        <source>%1倍</source>
        <translation>%1x</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="333"/>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="320"/>
        <source>%1分/秒</source>
        <translation>%1 min/s</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="335"/>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="323"/>
        <source>%1時/秒</source>
        <translation>%1 h/s</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="336"/>
        <source>%1時間/秒</source>
        <translation>%1 hours/s</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="337"/>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="322"/>
        <source>%1日/秒</source>
        <translation>%1 days/s</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="359"/>
        <source>手前に表示(&amp;T)</source>
        <translation>Always on &amp;Top</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="360"/>
        <source>ステータスを表示(&amp;S)</source>
        <translation>&amp;Status Bar</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="361"/>
        <source>最新画像を表示(&amp;R)</source>
        <translation>Show the &amp;Latest Image</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="363"/>
        <source>過去画像を表示(&amp;P)</source>
        <translation>Show &amp;Past Images</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="374"/>
        <source>早戻し	Home</source>
        <translation>Rewind	Home</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="378"/>
        <source>早送り	End</source>
        <translation>Fast Forward	End</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="380"/>
        <source>指定した日時を表示(&amp;G)	Enter</source>
        <translation>&amp;Go to Date and Time...	Enter</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="381"/>
        <source>画像を拡大(&amp;I)	PageUp</source>
        <translation>Zoom &amp;In	PageUp</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="382"/>
        <source>画像を縮小(&amp;O)	PageDown</source>
        <translation>Zoom &amp;Out	PageDown</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="383"/>
        <source>画像を明るく表示(&amp;B)	Shift+PageUp</source>
        <translation>&amp;Brighter	Shift+PageUp</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="384"/>
        <source>画像を暗く表示(&amp;D)	Shift+PageDown</source>
        <translation>&amp;Darker	Shift+PageDown</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_commands.cpp" line="385"/>
        <source>クリップボードにコピー(&amp;C)	Ctrl+C</source>
        <translation>&amp;Copy to Clipboard	Ctrl+C</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_picture.cpp" line="67"/>
        <source>画像を表示できません: %1</source>
        <translation>Cannot show the image: %1</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_picture.cpp" line="268"/>
        <source>メモリが確保できません!</source>
        <translation>Cannot allocate memory!</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="337"/>
        <source>最新</source>
        <translation>Latest</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="350"/>
        <source>画像一覧を読み込み中… %1枚</source>
        <translation>Reading the image list… %1 images</translation>
    </message>
    <message>
        <location filename="../src/imagestore/viewer/viewer_window.cpp" line="353"/>
        <source>画像一覧を読み込めません (0x%1)</source>
        <translation>Cannot read the image list (0x%1)</translation>
    </message>
</context>
</TS>
