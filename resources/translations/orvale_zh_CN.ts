<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
<context>
    <name>Orvale</name>
    <message>
        <source>分机号</source>
        <translation>分机号：</translation>
    </message>
    <message>
        <source>租客</source>
        <translation>租客：</translation>
    </message>
    <message>
        <source>邮箱</source>
        <translation>邮箱：</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>状态：</translation>
    </message>
</context>
</TS>
