<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>AboutUsWidowController</name>
    <message>
        <source>关于 Orvale</source>
        <translation>About Orvale</translation>
    </message>
    <message>
        <source>观看视频</source>
        <translation>Watch the video</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for Updates</translation>
    </message>
    <message>
        <source>视频会议客户端</source>
        <translation>Video conferencing client</translation>
    </message>
    <message>
        <source>版本 %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>发生了错误,检查更新失败了.QAQ</source>
        <translation>Something went wrong; the update check failed.</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>此版本已经是最新版本了,谢谢支持!</source>
        <translation>You already have the latest version. Thank you!</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>立即更新</source>
        <translation>Update Now</translation>
    </message>
    <message>
        <source>暂不升级</source>
        <translation>Not Now</translation>
    </message>
</context>
<context>
    <name>AlertHelper</name>
    <message>
        <source>注意</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>AllSetsWindowController</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>音视频设备</source>
        <translation>Audio and Video</translation>
    </message>
    <message>
        <source>视频质量</source>
        <translation>Video Quality</translation>
    </message>
    <message>
        <source>通用</source>
        <translation>General</translation>
    </message>
    <message>
        <source>修改密码</source>
        <translation>Change Password</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>注销</source>
        <translation>Sign Out</translation>
    </message>
    <message>
        <source>显示窗口</source>
        <translation>Show Window</translation>
    </message>
    <message>
        <source>设置…</source>
        <translation>Settings…</translation>
    </message>
    <message>
        <source>关于 Orvale</source>
        <translation>About Orvale</translation>
    </message>
    <message>
        <source>退出 Orvale</source>
        <translation>Quit Orvale</translation>
    </message>
    <message>
        <source>关闭窗口</source>
        <translation>Close Window</translation>
    </message>
    <message>
        <source>你正在会议中,请先退出会议!</source>
        <translation>You are in a meeting. Please leave it first.</translation>
    </message>
    <message>
        <source>登录地址不同,请注销后入会</source>
        <translation>This meeting is on another server. Sign out, then join.</translation>
    </message>
    <message>
        <source>注意</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>确定退出吗?</source>
        <translation>Do you really want to quit?</translation>
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
        <source>确定注销吗?</source>
        <translation>Do you really want to sign out?</translation>
    </message>
</context>
<context>
    <name>AppStatus</name>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>没有网络</source>
        <translation>No network</translation>
    </message>
</context>
<context>
    <name>CallRenderer</name>
    <message>
        <source>麦克风已关闭</source>
        <translation>Microphone off</translation>
    </message>
    <message>
        <source>麦克风已打开</source>
        <translation>Microphone on</translation>
    </message>
    <message>
        <source>扬声器已关闭</source>
        <translation>Speaker off</translation>
    </message>
    <message>
        <source>正在观看共享: %1</source>
        <translation>Watching share: %1</translation>
    </message>
    <message>
        <source>屏幕 %1</source>
        <translation>Screen %1</translation>
    </message>
    <message>
        <source>窗口 %1</source>
        <translation>Window %1</translation>
    </message>
    <message>
        <source>共享窗口</source>
        <translation>Share Window</translation>
    </message>
    <message>
        <source>选择窗口</source>
        <translation>Choose a window</translation>
    </message>
    <message>
        <source>无音视频</source>
        <translation>No audio or video</translation>
    </message>
    <message>
        <source>音视频已中断</source>
        <translation>Audio and video interrupted</translation>
    </message>
    <message>
        <source>网络不佳</source>
        <translation>Poor connection</translation>
    </message>
    <message>
        <source>网络不佳: %1</source>
        <translation>Poor connection: %1</translation>
    </message>
</context>
<context>
    <name>ChangePasswordViewController</name>
    <message>
        <source>原密码</source>
        <translation>Current password</translation>
    </message>
    <message>
        <source>新密码</source>
        <translation>New password</translation>
    </message>
    <message>
        <source>6-12位数字或字母</source>
        <translation>6–12 letters or digits</translation>
    </message>
    <message>
        <source>确认新密码</source>
        <translation>Confirm new password</translation>
    </message>
    <message>
        <source>修改成功后需要用新密码重新登录。</source>
        <translation>After the change, sign in again with the new password.</translation>
    </message>
    <message>
        <source>确认修改</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>请输入6-12位数字或字母</source>
        <translation>Enter 6–12 letters or digits</translation>
    </message>
    <message>
        <source>原密码错误</source>
        <translation>The current password is wrong</translation>
    </message>
    <message>
        <source>两次新密码不一致</source>
        <translation>The new passwords do not match</translation>
    </message>
    <message>
        <source>修改成功,您需要使用新密码登录!</source>
        <translation>Password changed. Please sign in with the new password.</translation>
    </message>
    <message>
        <source>发生了一些错误,修改密码失败.</source>
        <translation>Something went wrong; the password was not changed.</translation>
    </message>
</context>
<context>
    <name>ContactDetailViewController</name>
    <message>
        <source>加入会议</source>
        <translation>Join Meeting</translation>
    </message>
    <message>
        <source>删除好友</source>
        <translation>Remove Contact</translation>
    </message>
    <message>
        <source>分享二维码</source>
        <translation>Share QR Code</translation>
    </message>
    <message>
        <source>删除好友失败</source>
        <translation>Could not remove the contact</translation>
    </message>
    <message>
        <source>网络异常</source>
        <translation>Network error</translation>
    </message>
    <message>
        <source>所有的并发已经用完,请稍后再试</source>
        <translation>All meeting licences are in use. Please try again later.</translation>
    </message>
    <message>
        <source>不能加入会议,请稍后再试</source>
        <translation>Cannot join the meeting. Please try again later.</translation>
    </message>
    <message>
        <source>入会失败</source>
        <translation>Could not join the meeting</translation>
    </message>
    <message>
        <source>密码错误，请重新输入</source>
        <translation>Wrong password. Please try again.</translation>
    </message>
</context>
<context>
    <name>ContactListViewController</name>
    <message>
        <source>搜索联系人，按回车键搜索</source>
        <translation>Search contacts, press Enter</translation>
    </message>
    <message>
        <source>直播</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>打开管理控制台</source>
        <translation>Open the management console</translation>
    </message>
    <message>
        <source>控制台</source>
        <translation>Console</translation>
    </message>
    <message>
        <source>立即更新</source>
        <translation>Update Now</translation>
    </message>
    <message>
        <source>暂不升级</source>
        <translation>Not Now</translation>
    </message>
    <message>
        <source>添加好友失败</source>
        <translation>Could not add the contact</translation>
    </message>
    <message>
        <source>搜索联系人</source>
        <translation>Search contacts</translation>
    </message>
    <message>
        <source>联系人列表</source>
        <translation>Contact list</translation>
    </message>
    <message>
        <source>清除搜索</source>
        <translation>Clear search</translation>
    </message>
    <message>
        <source>搜索</source>
        <translation>Search</translation>
    </message>
</context>
<context>
    <name>ContactWindowController</name>
    <message>
        <source>邀请你参加视频会议,是否入会?</source>
        <translation>invites you to a video meeting. Join?</translation>
    </message>
    <message>
        <source>接受</source>
        <translation>Accept</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>错过邀请</source>
        <translation>Missed Invitation</translation>
    </message>
    <message>
        <source>错过了来自%1的会议邀请</source>
        <translation>You missed a meeting invitation from %1</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>注意</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>网络连接好像断开了</source>
        <translation>The network connection seems to be lost</translation>
    </message>
</context>
<context>
    <name>ControlWindowController</name>
    <message>
        <source>麦克风</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>扬声器</source>
        <translation>Speaker</translation>
    </message>
    <message>
        <source>摄像头</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>共享屏幕或窗口</source>
        <translation>Share screen or window</translation>
    </message>
    <message>
        <source>观看他人的共享</source>
        <translation>Watch others&apos; shares</translation>
    </message>
    <message>
        <source>切换布局</source>
        <translation>Change layout</translation>
    </message>
    <message>
        <source>放大最后加入的参会者</source>
        <translation>Enlarge the latest participant</translation>
    </message>
    <message>
        <source>邀请他人入会</source>
        <translation>Invite others</translation>
    </message>
    <message>
        <source>离开会议</source>
        <translation>Leave meeting</translation>
    </message>
    <message>
        <source>请求会议诊断信息</source>
        <translation>Request Meeting Diagnostics</translation>
    </message>
    <message>
        <source>关闭麦克风</source>
        <translation>Turn microphone off</translation>
    </message>
    <message>
        <source>关闭扬声器</source>
        <translation>Turn speaker off</translation>
    </message>
    <message>
        <source>关闭摄像头</source>
        <translation>Turn camera off</translation>
    </message>
    <message>
        <source>麦克风已打开</source>
        <translation>Microphone on</translation>
    </message>
    <message>
        <source>打开麦克风</source>
        <translation>Turn microphone on</translation>
    </message>
    <message>
        <source>麦克风已关闭</source>
        <translation>Microphone off</translation>
    </message>
    <message>
        <source>扬声器已打开</source>
        <translation>Speaker on</translation>
    </message>
    <message>
        <source>打开扬声器</source>
        <translation>Turn speaker on</translation>
    </message>
    <message>
        <source>扬声器已关闭</source>
        <translation>Speaker off</translation>
    </message>
    <message>
        <source>摄像头已打开</source>
        <translation>Camera on</translation>
    </message>
    <message>
        <source>打开摄像头</source>
        <translation>Turn camera on</translation>
    </message>
    <message>
        <source>摄像头已关闭</source>
        <translation>Camera off</translation>
    </message>
    <message>
        <source>设置…</source>
        <translation>Settings…</translation>
    </message>
</context>
<context>
    <name>DevicePreview</name>
    <message>
        <source>无摄像头画面</source>
        <translation>No camera picture</translation>
    </message>
</context>
<context>
    <name>DeviceViewController</name>
    <message>
        <source>麦克风</source>
        <translation>Microphone</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Microphone level</translation>
    </message>
    <message>
        <source>扬声器</source>
        <translation>Speaker</translation>
    </message>
    <message>
        <source>播放测试声音</source>
        <translation>Play Test Sound</translation>
    </message>
    <message>
        <source>摄像头</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>摄像头预览</source>
        <translation>Camera preview</translation>
    </message>
</context>
<context>
    <name>DirectLiveCellView</name>
    <message>
        <source>即将直播</source>
        <translation>Coming up</translation>
    </message>
    <message>
        <source>正在直播</source>
        <translation>Live now</translation>
    </message>
    <message>
        <source>观看直播</source>
        <translation>Watch live</translation>
    </message>
</context>
<context>
    <name>DirectLiveList</name>
    <message>
        <source>直播</source>
        <translation>Live Broadcasts</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>直播列表</source>
        <translation>Live broadcasts</translation>
    </message>
    <message>
        <source>%1，%2，%3</source>
        <translation>%1, %2, %3</translation>
    </message>
</context>
<context>
    <name>EnterByURLWindowController</name>
    <message>
        <source>加入会议</source>
        <translation>Join Meeting</translation>
    </message>
    <message>
        <source>通过邀请链接加入会议</source>
        <translation>Join a meeting by invitation link</translation>
    </message>
    <message>
        <source>请输入您在会议中显示的名字</source>
        <translation>Enter the name shown in the meeting</translation>
    </message>
    <message>
        <source>您的名字</source>
        <translation>Your name</translation>
    </message>
    <message>
        <source>请求超时,检查网络再试</source>
        <translation>The request timed out. Check the network and try again.</translation>
    </message>
    <message>
        <source>您在会议中显示的名字</source>
        <translation>Your name in the meeting</translation>
    </message>
</context>
<context>
    <name>GeneralSetsViewController</name>
    <message>
        <source>音频</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>回声消除</source>
        <translation>Echo cancellation</translation>
    </message>
    <message>
        <source>开会时消除扬声器传回麦克风的回声</source>
        <translation>Removes the speaker echo from the microphone in meetings</translation>
    </message>
    <message>
        <source>自动增益</source>
        <translation>Automatic gain</translation>
    </message>
    <message>
        <source>自动调整麦克风音量</source>
        <translation>Adjusts the microphone level automatically</translation>
    </message>
    <message>
        <source>其他</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>搜索整个通讯录</source>
        <translation>Search the whole directory</translation>
    </message>
    <message>
        <source>搜索联系人时也找不在我的联系人中的成员</source>
        <translation>Contact searches also find people who are not in My Contacts</translation>
    </message>
    <message>
        <source>自动接听来电</source>
        <translation>Answer calls automatically</translation>
    </message>
    <message>
        <source>有人呼叫时直接入会，不再询问</source>
        <translation>Join at once when someone calls, without asking</translation>
    </message>
    <message>
        <source>总是使用代理</source>
        <translation>Always use the proxy</translation>
    </message>
    <message>
        <source>总是经由代理连接会议服务</source>
        <translation>Always reach the meeting service through the proxy</translation>
    </message>
</context>
<context>
    <name>Helper</name>
    <message>
        <source>抱歉!只能识别本系统二维码.</source>
        <translation>Sorry, only QR codes of this system can be read.</translation>
    </message>
    <message>
        <source>此二维码已经过期了,无法入会</source>
        <translation>This QR code has expired; it cannot be used to join.</translation>
    </message>
</context>
<context>
    <name>IncomingCallNotification</name>
    <message>
        <source>接听</source>
        <translation>Answer</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>Decline</translation>
    </message>
</context>
<context>
    <name>JoinConferenceViewController</name>
    <message>
        <source>房间里(%1人)</source>
        <translation>In the room (%1)</translation>
    </message>
    <message>
        <source>在%1的房间里(%2人)</source>
        <translation>In %1&apos;s room (%2)</translation>
    </message>
    <message>
        <source>注意</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>网络连接好像断开了</source>
        <translation>The network connection seems to be lost</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>参会者</source>
        <translation>Participants</translation>
    </message>
    <message>
        <source>会议画面</source>
        <translation>Meeting video</translation>
    </message>
</context>
<context>
    <name>JoinConferenceWindowController</name>
    <message>
        <source>Orvale 会议</source>
        <translation>Orvale Meeting</translation>
    </message>
    <message>
        <source>按 F6 在会议画面和控制栏之间切换</source>
        <translation>Press F6 to move between the meeting video and the control bar</translation>
    </message>
</context>
<context>
    <name>JoinProgressWindow</name>
    <message>
        <source>正在加入会议…</source>
        <translation>Joining the meeting…</translation>
    </message>
</context>
<context>
    <name>LoginViewController</name>
    <message>
        <source>欢迎使用 Orvale</source>
        <translation>Welcome to Orvale</translation>
    </message>
    <message>
        <source>视频会议，随时随地</source>
        <translation>Video meetings, anywhere</translation>
    </message>
    <message>
        <source>服务器地址</source>
        <translation>Server address</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>记住密码</source>
        <translation>Remember password</translation>
    </message>
    <message>
        <source>自动登录</source>
        <translation>Sign in automatically</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Sign In</translation>
    </message>
    <message>
        <source> 扫码入会</source>
        <translation> Join by QR Code</translation>
    </message>
    <message>
        <source>请输入登录地址</source>
        <translation>Please enter the server address</translation>
    </message>
    <message>
        <source>请输入用户名</source>
        <translation>Please enter the user name</translation>
    </message>
    <message>
        <source>请输入登录密码</source>
        <translation>Please enter the password</translation>
    </message>
    <message>
        <source>正在登录…</source>
        <translation>Signing in…</translation>
    </message>
    <message>
        <source>无法连接服务器,请检查输入!</source>
        <translation>Cannot reach the server. Please check your input.</translation>
    </message>
    <message>
        <source>连接不到服务器</source>
        <translation>Cannot connect to the server</translation>
    </message>
    <message>
        <source>&amp;发现新版本,是否升级\n</source>
        <translation>&amp;A new version is available. Upgrade?\n</translation>
    </message>
    <message>
        <source>扫码入会</source>
        <translation>Join by QR Code</translation>
    </message>
</context>
<context>
    <name>Orvale</name>
    <message>
        <source>用户名密码错误</source>
        <translation>Wrong user name or password</translation>
    </message>
    <message>
        <source>登录地址错误</source>
        <translation>Wrong server address</translation>
    </message>
    <message>
        <source>连接不到服务器</source>
        <translation>Cannot connect to the server</translation>
    </message>
    <message>
        <source>服务器证书不可信</source>
        <translation>The server&apos;s certificate is not trusted</translation>
    </message>
    <message>
        <source>分机号</source>
        <translation>Extension: </translation>
    </message>
    <message>
        <source>租客</source>
        <translation>Tenant: </translation>
    </message>
    <message>
        <source>邮箱</source>
        <translation>Email: </translation>
    </message>
    <message>
        <source>在线</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>离线</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>忙碌</source>
        <translation>Busy</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status: </translation>
    </message>
    <message>
        <source>我的联系人</source>
        <translation>My Contacts</translation>
    </message>
    <message>
        <source>您可能想找</source>
        <translation>You may be looking for</translation>
    </message>
    <message>
        <source>未搜索到联系人</source>
        <translation>No contacts found</translation>
    </message>
    <message>
        <source>外部联系人</source>
        <translation>External Contacts</translation>
    </message>
</context>
<context>
    <name>OutsideContactDetailViewController</name>
    <message>
        <source>外部联系人</source>
        <translation>External Contacts</translation>
    </message>
    <message>
        <source>加入会议</source>
        <translation>Join Meeting</translation>
    </message>
    <message>
        <source>网络异常</source>
        <translation>Network error</translation>
    </message>
    <message>
        <source>所有的并发许可都被使用，稍后再试</source>
        <translation>All meeting licences are in use. Try again later.</translation>
    </message>
    <message>
        <source>加入会议失败，稍后再试</source>
        <translation>Could not join the meeting. Try again later.</translation>
    </message>
</context>
<context>
    <name>PinWindow</name>
    <message>
        <source>会议密码</source>
        <translation>Meeting Password</translation>
    </message>
    <message>
        <source>该会议室需要密码</source>
        <translation>This meeting room needs a password</translation>
    </message>
    <message>
        <source>请输入会议密码</source>
        <translation>Enter the meeting password</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>PlayDirectLive</name>
    <message>
        <source>%1 天 %2 时 %3 分 %4 秒</source>
        <translation>%1 d %2 h %3 m %4 s</translation>
    </message>
    <message>
        <source>天时分秒</source>
        <extracomment>The unit letters of the countdown, in its order: days, hours, minutes, seconds.</extracomment>
        <translation>dhms</translation>
    </message>
    <message>
        <source>  暂无简介</source>
        <translation>  No description</translation>
    </message>
    <message>
        <source>直播简介</source>
        <translation>Broadcast description</translation>
    </message>
    <message>
        <source>隐藏直播简介</source>
        <translation>Hide description</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>静音</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>全屏</source>
        <translation>Full screen</translation>
    </message>
    <message>
        <source>播放</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>取消静音</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>显示直播简介</source>
        <translation>Show description</translation>
    </message>
    <message>
        <source>退出全屏</source>
        <translation>Leave full screen</translation>
    </message>
</context>
<context>
    <name>QRBackView</name>
    <message>
        <source>可将二维码拖到文件夹或聊天窗口</source>
        <translation>Drag the QR code to a folder or a chat window</translation>
    </message>
    <message>
        <source>二维码.png</source>
        <translation>QR code.png</translation>
    </message>
</context>
<context>
    <name>QRCodeWindowController</name>
    <message>
        <source>扫码入会</source>
        <translation>Join by QR Code</translation>
    </message>
    <message>
        <source>拖入或粘贴会议邀请的二维码图片</source>
        <translation>Drop or paste the picture of a meeting invitation&apos;s QR code</translation>
    </message>
    <message>
        <source>您在会议中显示的名字</source>
        <translation>Your name in the meeting</translation>
    </message>
    <message>
        <source>进入会议</source>
        <translation>Enter Meeting</translation>
    </message>
    <message>
        <source>请求超时,检查网络再试</source>
        <translation>The request timed out. Check the network and try again.</translation>
    </message>
    <message>
        <source>好像无法连接到网络了</source>
        <translation>The network seems to be unreachable</translation>
    </message>
    <message>
        <source>会议邀请的二维码图片</source>
        <translation>Picture of the meeting invitation&apos;s QR code</translation>
    </message>
</context>
<context>
    <name>QRImageView</name>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>没有发现二维码 </source>
        <translation>No QR code found </translation>
    </message>
    <message>
        <source>抱歉,只能识别本系统二维码!</source>
        <translation>Sorry, only QR codes of this system can be read!</translation>
    </message>
    <message>
        <source>请输入姓名后，进入会议</source>
        <translation>Enter your name, then join the meeting</translation>
    </message>
    <message>
        <source>将二维码图片拖到这里
或按 Ctrl+V 粘贴</source>
        <translation>Drop a QR code picture here
or paste it with Ctrl+V</translation>
    </message>
</context>
<context>
    <name>QXContactListCellView</name>
    <message>
        <source>添加好友</source>
        <translation>Add Contact</translation>
    </message>
    <message>
        <source>会议室</source>
        <translation>Meeting room</translation>
    </message>
    <message>
        <source>外部联系人</source>
        <translation>External contact</translation>
    </message>
    <message>
        <source>在线</source>
        <translation>Online</translation>
    </message>
    <message>
        <source>离线</source>
        <translation>Offline</translation>
    </message>
    <message>
        <source>忙碌</source>
        <translation>Busy</translation>
    </message>
    <message>
        <source>%1，%2</source>
        <extracomment>A contact row read out: the name, then its presence or kind</extracomment>
        <translation>%1, %2</translation>
    </message>
</context>
<context>
    <name>ScreenSouseViewController</name>
    <message>
        <source>可共享的屏幕和窗口</source>
        <translation>Screens and windows to share</translation>
    </message>
</context>
<context>
    <name>ShareListInRoom</name>
    <message>
        <source>他人的共享</source>
        <translation>Others&apos; shares</translation>
    </message>
</context>
<context>
    <name>ShareQRCodeWindowController</name>
    <message>
        <source>邀请二维码</source>
        <translation>Invitation QR Code</translation>
    </message>
    <message>
        <source>扫描二维码，加入我的会议</source>
        <translation>Scan the QR code to join my meeting</translation>
    </message>
    <message>
        <source>邀请链接已复制到剪贴板</source>
        <translation>Invitation link copied to the clipboard</translation>
    </message>
    <message>
        <source>复制链接</source>
        <translation>Copy Link</translation>
    </message>
    <message>
        <source>保存图片</source>
        <translation>Save Picture</translation>
    </message>
    <message>
        <source>%1月%2日 %3前</source>
        <translation>until %3 on %1/%2</translation>
    </message>
    <message>
        <source>该二维码%1内(%2)有效</source>
        <translation>This QR code is valid for %1 (%2)</translation>
    </message>
    <message>
        <source>保存二维码</source>
        <translation>Save QR Code</translation>
    </message>
    <message>
        <source>二维码.png</source>
        <translation>QR code.png</translation>
    </message>
    <message>
        <source>保存失败</source>
        <translation>Could not save</translation>
    </message>
    <message numerus="yes">
        <source>%n天</source>
        <translation>
            <numerusform>%n day</numerusform>
            <numerusform>%n days</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n小时</source>
        <translation>
            <numerusform>%n hour</numerusform>
            <numerusform>%n hours</numerusform>
        </translation>
    </message>
    <message>
        <source>会议邀请二维码</source>
        <translation>Meeting invitation QR code</translation>
    </message>
</context>
<context>
    <name>TRQClientInEvent</name>
    <message>
        <source>共享屏幕</source>
        <translation>Share Screen</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>停止接受远程共享</source>
        <translation>Stop watching the share</translation>
    </message>
    <message>
        <source>全屏</source>
        <translation>Full screen</translation>
    </message>
    <message>
        <source>屏幕共享</source>
        <translation>Screen sharing</translation>
    </message>
</context>
<context>
    <name>TRQClientOnOutEvent</name>
    <message>
        <source>我</source>
        <translation>Me</translation>
    </message>
    <message>
        <source>账号在别处登陆</source>
        <translation>Your account signed in elsewhere</translation>
    </message>
    <message>
        <source>当前房间的并发数已满,无法入会</source>
        <translation>The room is full; you cannot join.</translation>
    </message>
    <message>
        <source>入会失败,请检查入会链接</source>
        <translation>Could not join. Please check the invitation link.</translation>
    </message>
</context>
<context>
    <name>VideoQualityViewController</name>
    <message>
        <source>会议中发送的视频质量</source>
        <translation>Quality of the video sent in meetings</translation>
    </message>
    <message>
        <source>自动 (推荐)</source>
        <translation>Automatic (recommended)</translation>
    </message>
    <message>
        <source>流畅优先</source>
        <translation>Prefer smoothness</translation>
    </message>
    <message>
        <source>清晰优先</source>
        <translation>Prefer sharpness</translation>
    </message>
    <message>
        <source>高清</source>
        <translation>HD</translation>
    </message>
    <message>
        <source>更多选项…</source>
        <translation>More Options…</translation>
    </message>
    <message>
        <source>更多选项</source>
        <translation>More Options</translation>
    </message>
    <message>
        <source>超清 (需要更多带宽)</source>
        <translation>Full HD (needs more bandwidth)</translation>
    </message>
    <message>
        <source>最高画质 (需要更多带宽和处理能力)</source>
        <translation>Best quality (needs more bandwidth and processing power)</translation>
    </message>
    <message>
        <source>选择会在下次设置传给会议引擎时生效。</source>
        <translation>The choice takes effect when the settings next go to the meeting engine.</translation>
    </message>
</context>
</TS>
