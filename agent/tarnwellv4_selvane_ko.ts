<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>QObject</name>
    <message>
        <source>Translator</source>
        <translation>번역기</translation>
    </message>
    <message>
        <source>Translator directory not found.</source>
        <translation>번역 폴더를 찾을 수 없습니다.</translation>
    </message>
    <message>
        <source>Translator file not found.</source>
        <translation>번역 파일을 찾을 수 없습니다.</translation>
    </message>
    <message>
        <source>auth</source>
        <translation>인증</translation>
    </message>
    <message>
        <source>The SSO auth failed.</source>
        <translation>SSO 인증에 실패했습니다.</translation>
    </message>
    <message>
        <source>The SSO agent is not running.</source>
        <translation>SSO 에이전트가 실행되고 있지 않습니다.</translation>
    </message>
    <message>
        <source>User information could not be verified.</source>
        <translation>사용자 정보를 확인할 수 없습니다.</translation>
    </message>
    <message>
        <source>Connect failed</source>
        <translation>연결 실패</translation>
    </message>
    <message>
        <source>This is an unopend service.</source>
        <translation>열려 있지 않은 서비스입니다.</translation>
    </message>
    <message>
        <source>Run Browser</source>
        <translation>브라우저 실행</translation>
    </message>
    <message>
        <source>Do not run Browser failed.</source>
        <translation>브라우저를 실행하지 못했습니다.</translation>
    </message>
</context>
</TS>
