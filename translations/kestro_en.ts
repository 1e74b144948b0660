<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>关于Kestro</source>
        <translation>About Kestro</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>© 2026 Kestro项目组</source>
        <translation>© 2026 Kestro team</translation>
    </message>
    <message>
        <source>作者：Kestro项目组</source>
        <translation>By: Kestro team</translation>
    </message>
    <message>
        <source>反馈：项目的问题跟踪</source>
        <translation>Feedback: issue tracker</translation>
    </message>
    <message>
        <source>交流：问题跟踪区</source>
        <translation>Talk: the issues</translation>
    </message>
</context>
<context>
    <name>MainDialog</name>
    <message>
        <source>手动</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>阅读</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>复读</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>录音</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>回放</source>
        <translation>Replay</translation>
    </message>
    <message>
        <source>对比</source>
        <translation>Compare</translation>
    </message>
    <message>
        <source>无法读取播放列表 Kestro.m3u: %1。
退出时不会覆盖它。</source>
        <translation>Cannot read the playlist Kestro.m3u: %1.
It will not be written over at exit.</translation>
    </message>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>新文件</source>
        <translation>Open files</translation>
    </message>
    <message>
        <source>最小化</source>
        <translation>Minimise</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>全部删除</source>
        <translation>Delete all</translation>
    </message>
    <message>
        <source>播放列表/波形</source>
        <translation>Playlist/waveform</translation>
    </message>
    <message>
        <source>文件夹 %1 中没有可以播放的文件</source>
        <translation>The folder %1 holds nothing Kestro can play</translation>
    </message>
    <message>
        <source>新文件(&amp;N)</source>
        <translation>&amp;Open files…</translation>
    </message>
    <message>
        <source>上一个(&amp;L)</source>
        <translation>Previous (&amp;L)</translation>
    </message>
    <message>
        <source>下一个(&amp;I)</source>
        <translation>Next (&amp;I)</translation>
    </message>
    <message>
        <source>播放(&amp;W)</source>
        <translation>Play (&amp;W)</translation>
    </message>
    <message>
        <source>暂停(&amp;P)</source>
        <translation>&amp;Pause</translation>
    </message>
    <message>
        <source>停止(&amp;T)</source>
        <translation>S&amp;top</translation>
    </message>
    <message>
        <source>阅读(&amp;A)</source>
        <translation>Read (&amp;A)</translation>
    </message>
    <message>
        <source>复读(&amp;S)</source>
        <translation>Repeat (&amp;S)</translation>
    </message>
    <message>
        <source>录音(&amp;D)</source>
        <translation>Recor&amp;d</translation>
    </message>
    <message>
        <source>回放(&amp;F)</source>
        <translation>Replay (&amp;F)</translation>
    </message>
    <message>
        <source>对比(&amp;G)</source>
        <translation>Compare (&amp;G)</translation>
    </message>
    <message>
        <source>自动/手动(&amp;M)</source>
        <translation>Automatic/&amp;manual</translation>
    </message>
    <message>
        <source>高级设置</source>
        <translation>Advanced</translation>
    </message>
    <message>
        <source>复读设置</source>
        <translation>Repeat settings</translation>
    </message>
    <message>
        <source>保持音调(&amp;K)</source>
        <translation>&amp;Keep pitch</translation>
    </message>
    <message>
        <source>按字幕分句</source>
        <translation>Sentences from the transcript</translation>
    </message>
    <message>
        <source>自适应分句</source>
        <translation>Adaptive split</translation>
    </message>
    <message>
        <source>从上次停止处继续</source>
        <translation>Go on where I left off</translation>
    </message>
    <message>
        <source>记住设置</source>
        <translation>Remember settings</translation>
    </message>
    <message>
        <source>窗口大小</source>
        <translation>Window size</translation>
    </message>
    <message>
        <source>随屏幕</source>
        <translation>As the screen</translation>
    </message>
    <message>
        <source>1×</source>
        <translation>1×</translation>
    </message>
    <message>
        <source>2×</source>
        <translation>2×</translation>
    </message>
    <message>
        <source>3×</source>
        <translation>3×</translation>
    </message>
    <message>
        <source>逐句</source>
        <translation>Sentences</translation>
    </message>
    <message>
        <source>上一句</source>
        <translation>Previous sentence</translation>
    </message>
    <message>
        <source>下一句</source>
        <translation>Next sentence</translation>
    </message>
    <message>
        <source>重复本句</source>
        <translation>Repeat this sentence</translation>
    </message>
    <message>
        <source>隐藏文字</source>
        <translation>Hide the text</translation>
    </message>
    <message>
        <source>导出句子…</source>
        <translation>Export sentences…</translation>
    </message>
    <message>
        <source>保存列表</source>
        <translation>Save the list</translation>
    </message>
    <message>
        <source>关于 Kestro(&amp;A)...</source>
        <translation>&amp;About Kestro...</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>所有文件 (*.*)</source>
        <translation>All files (*.*)</translation>
    </message>
    <message>
        <source>%1文件 (%2)</source>
        <translation>%1 files (%2)</translation>
    </message>
    <message>
        <source>所有支持的文件 (%1)</source>
        <translation>All supported files (%1)</translation>
    </message>
    <message>
        <source>无法读取播放列表 %1: %2</source>
        <translation>Cannot read the playlist %1: %2</translation>
    </message>
    <message>
        <source>错误:</source>
        <translation>Error:</translation>
    </message>
    <message>
        <source>打开文件错误</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>从播放列表中删除全部 %1 个文件?</source>
        <translation>Delete all %1 files from the playlist?</translation>
    </message>
    <message>
        <source>导出句子</source>
        <translation>Export sentences</translation>
    </message>
    <message>
        <source>上一次导出还没有完成。</source>
        <translation>The last export has not finished yet.</translation>
    </message>
    <message>
        <source>当前文件没有找到句子，无法导出。请给它配上同名字幕（.lrc、.srt 或 .vtt），或在 高级设置 中选 自适应分句，再播放它。</source>
        <translation>No sentences were found in this file, so there is nothing to export. Put a transcript of the same name beside it (.lrc, .srt or .vtt), or choose Adaptive split under Advanced and play it again.</translation>
    </message>
    <message>
        <source>导出句子到文件夹</source>
        <translation>Export the sentences into a folder</translation>
    </message>
    <message>
        <source>%1 已经存在。替换文件夹中同名的文件吗？</source>
        <translation>%1 is already there. Replace the files of the same names in the folder?</translation>
    </message>
    <message>
        <source>无法导出: %1</source>
        <translation>Cannot export: %1</translation>
    </message>
    <message>
        <source>正在导出句子…</source>
        <translation>Exporting the sentences…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>已导出 %1 句</source>
        <translation>%1 sentences exported</translation>
    </message>
    <message>
        <source>导出已取消：写好了 %1 句</source>
        <translation>Export cancelled: %1 sentences written</translation>
    </message>
    <message>
        <source>导出没有完成: %1</source>
        <translation>The export did not finish: %1</translation>
    </message>
    <message>
        <source>m3u文件 (*.m3u)</source>
        <translation>m3u files (*.m3u)</translation>
    </message>
    <message>
        <source>播放列表没有保存: %1</source>
        <translation>The playlist was not saved: %1</translation>
    </message>
    <message>
        <source>自动复读 %1 秒未找到句子：试试自适应分句、缩短停顿或配字幕</source>
        <translation>No sentence found in %1 s of automatic repeat: try Adaptive split, a shorter pause or a transcript</translation>
    </message>
    <message>
        <source>自适应分句：%1</source>
        <translation>Adaptive split: %1</translation>
    </message>
    <message>
        <source>字幕 %1：%2</source>
        <translation>Transcript %1: %2</translation>
    </message>
    <message>
        <source>无法播放 %1: %2</source>
        <translation>Cannot play %1: %2</translation>
    </message>
    <message>
        <source>无法执行: %1</source>
        <translation>Cannot do that: %1</translation>
    </message>
    <message>
        <source>
无法播放: </source>
        <translation>
Cannot play: </translation>
    </message>
    <message>
        <source>无法保存窗口大小: %1</source>
        <translation>Cannot keep the window size: %1</translation>
    </message>
    <message>
        <source>窗口大小在下次启动时改变</source>
        <translation>The window size changes at the next start</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Pos</translation>
    </message>
    <message>
        <source>平衡</source>
        <translation>Bal</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Vol</translation>
    </message>
    <message>
        <source>速度</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>打开文件…</source>
        <translation>Open files…</translation>
    </message>
    <message>
        <source>向列表添加文件</source>
        <translation>Add files to the list</translation>
    </message>
    <message>
        <source>从列表删除选中的一项</source>
        <translation>Delete the selected entry from the list</translation>
    </message>
    <message>
        <source>清空列表</source>
        <translation>Empty the list</translation>
    </message>
    <message>
        <source>在播放列表和波形之间切换</source>
        <translation>Switch between the playlist and the waveform</translation>
    </message>
    <message>
        <source>阅读：从这里标记一段的开头；在别的模式中回到阅读</source>
        <translation>Read: mark where a passage begins; from another mode, back to reading</translation>
    </message>
    <message>
        <source>复读：反复播放从开头标记到这里的一段；再按一次暂停</source>
        <translation>Repeat: loop the passage from its marked start to here; press again to pause it</translation>
    </message>
    <message>
        <source>录音：录下你的声音（暂停时也可以）</source>
        <translation>Record your voice (paused too)</translation>
    </message>
    <message>
        <source>回放：播放你的录音</source>
        <translation>Replay: hear your recording</translation>
    </message>
    <message>
        <source>对比：轮流播放你的录音和原文</source>
        <translation>Compare: your recording and the passage in turn</translation>
    </message>
    <message>
        <source>进度：点击或拖动跳到那里（暂停时也可以）</source>
        <translation>Progress: click or drag to go there (paused too)</translation>
    </message>
    <message>
        <source>音量大小</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>速度：向右变慢，最左是原速</source>
        <translation>Speed: slower to the right, normal at the far left</translation>
    </message>
    <message>
        <source>左右平衡</source>
        <translation>Balance between left and right</translation>
    </message>
    <message>
        <source> (点击后用 ←/→、PgUp/PgDn)</source>
        <translation> (once clicked: ←/→, PgUp/PgDn)</translation>
    </message>
    <message>
        <source>现在是自动：每句自动重复。按下改为手动，由你标记段落</source>
        <translation>Automatic now: every sentence is repeated by itself. Press for manual, where you mark the passages</translation>
    </message>
    <message>
        <source>现在是手动：由你标记段落。按下改为自动，每句自动重复</source>
        <translation>Manual now: you mark the passages. Press for automatic, where every sentence is repeated by itself</translation>
    </message>
    <message>
        <source>速度 %1%</source>
        <translation>Speed %1%</translation>
    </message>
    <message>
        <source>你的录音 %1</source>
        <translation>Your recording %1</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>次数：</source>
        <translation>Times:</translation>
    </message>
    <message>
        <source>纵向精度：</source>
        <translation>Level (%):</translation>
    </message>
    <message>
        <source>横向精度(s)：</source>
        <translation>Pause (s):</translation>
    </message>
    <message>
        <source>采样数(%):</source>
        <translation>Sample %:</translation>
    </message>
    <message>
        <source>自动复读设置</source>
        <translation>Automatic repeat settings</translation>
    </message>
    <message>
        <source>有字幕时按字幕分句</source>
        <translation>Transcript's sentences first</translation>
    </message>
    <message>
        <source>停顿检测（按以上设置）</source>
        <translation>Pause detection (above)</translation>
    </message>
    <message>
        <source>自适应分句</source>
        <translation>Adaptive split</translation>
    </message>
    <message>
        <source>最短停顿(s)：</source>
        <translation>Pause ≥ (s):</translation>
    </message>
    <message>
        <source>最长句子(s)：</source>
        <translation>Longest (s):</translation>
    </message>
    <message>
        <source>跟读：不留间隔</source>
        <translation>Shadowing: no gap</translation>
    </message>
    <message>
        <source>固定间隔(s)：</source>
        <translation>Gap (s):</translation>
    </message>
    <message>
        <source>句长倍数：</source>
        <translation>× length:</translation>
    </message>
    <message>
        <source>跟读录音（间隔中录下并回放）</source>
        <translation>Record myself in the gap</translation>
    </message>
    <message>
        <source>逐句暂停（听写）</source>
        <translation>Dictation: pause after each</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>请输入一个数字。</source>
        <translation>Please enter a number.</translation>
    </message>
    <message>
        <source>请输入一个在 %1 和 %2 之间的数字。</source>
        <translation>Please enter a number between %1 and %2.</translation>
    </message>
    <message>
        <source>请输入一个整数。</source>
        <translation>Please enter a whole number.</translation>
    </message>
    <message>
        <source>请输入一个在 %1 和 %2 之间的整数。</source>
        <translation>Please enter a whole number between %1 and %2.</translation>
    </message>
    <message>
        <source>自动复读把课文在停顿处分成句子，每句听完后再重复播放。

次数：每个句子听完第一遍后再重复的遍数（1 到 100）：设为 3，每句共听 4 遍。
纵向精度：声音低于满幅度的这个百分比时算作安静（0 到 50）。
横向精度(s)：安静持续多少秒算作一句的结束（0.1 到 10）。
采样数(%)：测量安静时检查的采样所占的百分比（5 到 100）。

分句方法：有字幕（同名的 .lrc、.srt 或 .vtt）时可按字幕分句；否则用停顿检测（以上设置，适合停顿长的课文录音），或用自适应分句：打开文件时在后台分析整个声音，按它自己的底噪找出停顿，适合自然语速、有噪声或音量小的录音。
最短停顿(s)：多长的停顿算作一句的结束（0.1 到 5）。
最长句子(s)：更长的句子在其中最长的停顿处再分开（2 到 120）。

跟读：自动复读时每播放一遍句子后静音一段时间，让你跟着说——固定的秒数（0.1 到 60），或句子长度的倍数（0.5 到 3）。
跟读录音：每段间隔中录下你的声音，间隔一结束就回放，再播放原句（保存为 RecordVM.qv，可用回放和对比）。
逐句暂停（听写）：每句最后一遍播完后暂停，按播放继续。</source>
        <translation>Automatic repeat splits the lesson into sentences at its pauses and plays each again once it has been heard.

Times: how often each sentence is repeated after it is first heard (1 to 100): with 3, each sentence is heard 4 times.
Level (%): sound below this percentage of full scale counts as quiet (0 to 50).
Pause (s): how many seconds of quiet end a sentence (0.1 to 10).
Sample %: the percentage of samples looked at when measuring quiet (5 to 100).

How sentences are found: with a transcript (an .lrc, .srt or .vtt of the same name) by the transcript's sentences; otherwise by pause detection (the settings above, for course recordings with long pauses), or by the adaptive split: when a file opens, the whole sound is analysed in the background and pauses are found against its own noise floor, for natural speech, noisy or quiet recordings.
Pause ≥ (s): how long a pause must be to end a sentence (0.1 to 5).
Longest (s): a longer sentence is split again at its longest pause (2 to 120).

Shadowing: in automatic repeat, after each play of a sentence the sound stops for a while so that you can say it yourself: a fixed number of seconds (0.1 to 60), or a multiple of the sentence's length (0.5 to 3).
Record myself in the gap: your voice is recorded in each gap and played back as soon as the gap ends, then the sentence again (kept as RecordVM.qv, for Replay and Compare).
Dictation: pause after each: after a sentence's last play Kestro pauses; Play goes on.</translation>
    </message>
</context>
<context>
    <name>TranscriptView</name>
    <message>
        <source>没有字幕：把同名的 .lrc、.srt 或 .vtt 文件放在课文旁边</source>
        <translation>No transcript: put an .lrc, .srt or .vtt file of the same name beside the lesson</translation>
    </message>
    <message>
        <source>第 %1 句（%2 秒）</source>
        <translation>Sentence %1 (%2 s)</translation>
    </message>
</context>
<context>
    <name>WaveformPanel</name>
    <message>
        <source>跟读</source>
        <translation>Your turn</translation>
    </message>
</context>
</TS>
