#include "OrvaneTrafficRules.h"

namespace orvane {

const QStringList& OrvaneTrafficRules::domesticDomainSuffixes() {
    static const QStringList list{
        QStringLiteral("cn"),
        QStringLiteral("qq.com"),
        QStringLiteral("weixin.qq.com"),
        QStringLiteral("wechat.com"),
        QStringLiteral("tencent.com"),
        QStringLiteral("gtimg.com"),
        QStringLiteral("qpic.cn"),
        QStringLiteral("qlogo.cn"),
        QStringLiteral("myqcloud.com"),
        QStringLiteral("weibo.com"),
        QStringLiteral("weibo.cn"),
        QStringLiteral("sina.com.cn"),
        QStringLiteral("sinaimg.cn"),
        QStringLiteral("bilibili.com"),
        QStringLiteral("hdslb.com"),
        QStringLiteral("douyin.com"),
        QStringLiteral("douyinpic.com"),
        QStringLiteral("toutiao.com"),
        QStringLiteral("bytedance.com"),
        QStringLiteral("byteimg.com"),
        QStringLiteral("pstatp.com"),
        QStringLiteral("ixigua.com"),
        QStringLiteral("kuaishou.com"),
        QStringLiteral("iqiyi.com"),
        QStringLiteral("youku.com"),
        QStringLiteral("mgtv.com"),
        QStringLiteral("huya.com"),
        QStringLiteral("douyu.com"),
        QStringLiteral("douyu.tv"),
        QStringLiteral("cctv.com"),
        QStringLiteral("cntv.cn"),
        QStringLiteral("taobao.com"),
        QStringLiteral("tmall.com"),
        QStringLiteral("alipay.com"),
        QStringLiteral("alicdn.com"),
        QStringLiteral("aliyun.com"),
        QStringLiteral("aliyuncs.com"),
        QStringLiteral("jd.com"),
        QStringLiteral("360buyimg.com"),
        QStringLiteral("pinduoduo.com"),
        QStringLiteral("yangkeduo.com"),
        QStringLiteral("meituan.com"),
        QStringLiteral("meituan.net"),
        QStringLiteral("dianping.com"),
        QStringLiteral("ctrip.com"),
        QStringLiteral("baidu.com"),
        QStringLiteral("bdstatic.com"),
        QStringLiteral("bcebos.com"),
        QStringLiteral("sogou.com"),
        QStringLiteral("so.com"),
        QStringLiteral("zhihu.com"),
        QStringLiteral("zhimg.com"),
        QStringLiteral("douban.com"),
        QStringLiteral("doubanio.com"),
        QStringLiteral("xiaohongshu.com"),
        QStringLiteral("xhscdn.com"),
        QStringLiteral("163.com"),
        QStringLiteral("126.net"),
        QStringLiteral("netease.com"),
        QStringLiteral("sohu.com"),
        QStringLiteral("ifeng.com"),
        QStringLiteral("huaweicloud.com"),
    };
    return list;
}

const QStringList& OrvaneTrafficRules::directIPCIDRs() {
    static const QStringList list = [] {
        QStringList out{QStringLiteral("10.0.0.0/8"),     QStringLiteral("100.64.0.0/10"),
                        QStringLiteral("127.0.0.0/8"),    QStringLiteral("169.254.0.0/16"),
                        QStringLiteral("172.16.0.0/12"),  QStringLiteral("192.168.0.0/16"),
                        QStringLiteral("224.0.0.0/4"),    QStringLiteral("1.12.0.0/14"),
                        QStringLiteral("1.24.0.0/13")};
        const int firstOctets[] = {14,  27,  36,  39,  42,  49,  58,  59,  60,  61,  101, 103,
                                   106, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120,
                                   121, 122, 123, 124, 125, 139, 140, 150, 171, 175, 180, 182,
                                   183, 202, 203, 210, 211, 218, 219, 220, 221, 222, 223};
        for (int octet : firstOctets) {
            out << QStringLiteral("%1.0.0.0/8").arg(octet);
        }
        return out;
    }();
    return list;
}

const QStringList& OrvaneTrafficRules::domesticProxyBypassDomains() {
    // Function-local statics are built once, also when first reached from several places.
    static const QStringList list = [] {
        QStringList out{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"),
                        QStringLiteral("::1"), QStringLiteral("*.local")};
        out << domesticDomainSuffixes();
        for (const QString& suffix : domesticDomainSuffixes()) {
            out << QStringLiteral("*.") + suffix;
        }
        return out;
    }();
    return list;
}

} // namespace orvane
