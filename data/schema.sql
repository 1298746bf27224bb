-- The message database of the Bulk SMS program, as shipped.
-- The build turns this script into BulkSMS.db, keyed with the program's password.
-- The program only reads and writes rows; it never creates or alters tables.
--
-- Conventions: yes/no columns hold -1 (yes) and 0 (no); moments are text in the form
-- 'yyyy-MM-dd HH:mm:ss', which sorts and compares correctly.

-- Received SMS, one row per message.
CREATE TABLE Message_InBox (
    InBox_Id       INTEGER PRIMARY KEY AUTOINCREMENT,
    SenderMobileNo TEXT,
    SenderId       INTEGER DEFAULT 0,
    Message        TEXT,
    InboxDateTime  TEXT,
    IsRead         INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX Message_InBox_IsRead ON Message_InBox (IsRead);
-- The message box lists the Inbox a page at a time, newest first or by sender.
CREATE INDEX Message_InBox_Received ON Message_InBox (InboxDateTime);
CREATE INDEX Message_InBox_Sender ON Message_InBox (SenderMobileNo);

-- The send queue (DeliveryDatetime null) and the sent items (DeliveryDatetime set).
CREATE TABLE Message_OutBox (
    Outbox_Id         INTEGER PRIMARY KEY AUTOINCREMENT,
    RecepId           INTEGER DEFAULT 0,
    RecipientMobileNo TEXT,
    Message           TEXT,
    OutBoxDateTime    TEXT,
    DeliveryStatus    TEXT,
    DeliveryDatetime  TEXT
);
CREATE INDEX Message_OutBox_Waiting ON Message_OutBox (DeliveryDatetime, DeliveryStatus);
CREATE INDEX Message_OutBox_Status ON Message_OutBox (DeliveryStatus);
-- The message box's pages: Sent Items by delivery moment or recipient, the Outbox by
-- queueing moment or recipient (those two cover only the waiting rows). Each index
-- gives its rows in the order of the list, ties by key, and holds DeliveryDatetime, so
-- rows before the page shown are passed over without reading the table.
CREATE INDEX Message_OutBox_Delivered ON Message_OutBox (DeliveryDatetime);
CREATE INDEX Message_OutBox_SentRecipient
    ON Message_OutBox (RecipientMobileNo, Outbox_Id, DeliveryDatetime)
    WHERE DeliveryDatetime IS NOT NULL;
CREATE INDEX Message_OutBox_WaitingQueued ON Message_OutBox (DeliveryDatetime, OutBoxDateTime)
    WHERE DeliveryDatetime IS NULL;
CREATE INDEX Message_OutBox_WaitingRecipient
    ON Message_OutBox (DeliveryDatetime, RecipientMobileNo)
    WHERE DeliveryDatetime IS NULL;

-- The sizes of the message folders, kept by the triggers below on every change of the
-- two message tables, so that a folder's size is read without counting its rows.
-- Unread: IsRead = 0 (false); waiting: no DeliveryDatetime; sent: a DeliveryDatetime.
CREATE TABLE MessageFolderTotals (
    InboxTotal    INTEGER NOT NULL DEFAULT 0,
    InboxUnread   INTEGER NOT NULL DEFAULT 0,
    OutboxWaiting INTEGER NOT NULL DEFAULT 0,
    SentTotal     INTEGER NOT NULL DEFAULT 0
);
INSERT INTO MessageFolderTotals DEFAULT VALUES;
CREATE TRIGGER Message_InBox_Inserted AFTER INSERT ON Message_InBox BEGIN
    UPDATE MessageFolderTotals SET InboxTotal = InboxTotal + 1,
        InboxUnread = InboxUnread + (NEW.IsRead = 0);
END;
CREATE TRIGGER Message_InBox_Deleted AFTER DELETE ON Message_InBox BEGIN
    UPDATE MessageFolderTotals SET InboxTotal = InboxTotal - 1,
        InboxUnread = InboxUnread - (OLD.IsRead = 0);
END;
CREATE TRIGGER Message_InBox_ReadChanged AFTER UPDATE OF IsRead ON Message_InBox BEGIN
    UPDATE MessageFolderTotals
        SET InboxUnread = InboxUnread - (OLD.IsRead = 0) + (NEW.IsRead = 0);
END;
CREATE TRIGGER Message_OutBox_Inserted AFTER INSERT ON Message_OutBox BEGIN
    UPDATE MessageFolderTotals
        SET OutboxWaiting = OutboxWaiting + (NEW.DeliveryDatetime IS NULL),
            SentTotal = SentTotal + (NEW.DeliveryDatetime IS NOT NULL);
END;
CREATE TRIGGER Message_OutBox_Deleted AFTER DELETE ON Message_OutBox BEGIN
    UPDATE MessageFolderTotals
        SET OutboxWaiting = OutboxWaiting - (OLD.DeliveryDatetime IS NULL),
            SentTotal = SentTotal - (OLD.DeliveryDatetime IS NOT NULL);
END;
CREATE TRIGGER Message_OutBox_DeliveryChanged AFTER UPDATE OF DeliveryDatetime
    ON Message_OutBox BEGIN
    UPDATE MessageFolderTotals
        SET OutboxWaiting = OutboxWaiting - (OLD.DeliveryDatetime IS NULL)
                + (NEW.DeliveryDatetime IS NULL),
            SentTotal = SentTotal - (OLD.DeliveryDatetime IS NOT NULL)
                + (NEW.DeliveryDatetime IS NOT NULL);
END;

-- Incoming calls.
CREATE TABLE MissedCallStatistics (
    id           INTEGER PRIMARY KEY AUTOINCREMENT,
    callDateTime TEXT,
    callerNumber TEXT,
    IsMissCall   INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX MissedCallStatistics_Day ON MissedCallStatistics (IsMissCall, callDateTime);
CREATE INDEX MissedCallStatistics_Time ON MissedCallStatistics (callDateTime);

-- Serial line and modem settings: one row, written by the settings window.
CREATE TABLE ModemSetting (
    CommPortNo       INTEGER,
    BitsPerSecond    TEXT,
    Parity           TEXT,
    DataBits         TEXT,
    StopBits         TEXT,
    FlowControl      TEXT,
    CharacterSet     TEXT,
    EnabledCallerId  INTEGER NOT NULL DEFAULT 0,
    ModemDelayFactor REAL
);

-- Polling and delivery settings: one row.
CREATE TABLE Timer_setting (
    EnableReceiveTimer     INTEGER NOT NULL DEFAULT 0,
    ReceiveAllMessagesTime INTEGER,
    EnableSendTimer        INTEGER NOT NULL DEFAULT 0,
    SendAllMessagesTime    INTEGER,
    SMSDelevaryMode        TEXT
);
INSERT INTO Timer_setting (EnableReceiveTimer, ReceiveAllMessagesTime, EnableSendTimer,
                           SendAllMessagesTime, SMSDelevaryMode)
VALUES (-1, 10, -1, 10, 'DIRECT DELIVER');

-- The automatic reply to a missed call: at most one row, made by its settings window.
CREATE TABLE AutoReply_OnMissedCall (
    IsActive INTEGER NOT NULL DEFAULT 0,
    Message  TEXT
);

-- Country calling codes, longest codes first: the first row whose code begins a
-- number is that number's country. Codes shared by several countries (1, 7) stand
-- once, with the longer codes of their members before them.
CREATE TABLE Country (
    CountryId   TEXT NOT NULL,
    CountryCode TEXT NOT NULL,
    CountryName TEXT NOT NULL
);

INSERT INTO Country (CountryId, CountryCode, CountryName) VALUES
    ('BS', '1242', 'Bahamas'),
    ('BB', '1246', 'Barbados'),
    ('AI', '1264', 'Anguilla'),
    ('AG', '1268', 'Antigua and Barbuda'),
    ('VG', '1284', 'British Virgin Islands'),
    ('VI', '1340', 'US Virgin Islands'),
    ('KY', '1345', 'Cayman Islands'),
    ('BM', '1441', 'Bermuda'),
    ('GD', '1473', 'Grenada'),
    ('TC', '1649', 'Turks and Caicos Islands'),
    ('MS', '1664', 'Montserrat'),
    ('MP', '1670', 'Northern Mariana Islands'),
    ('GU', '1671', 'Guam'),
    ('AS', '1684', 'American Samoa'),
    ('SX', '1721', 'Sint Maarten'),
    ('LC', '1758', 'Saint Lucia'),
    ('DM', '1767', 'Dominica'),
    ('VC', '1784', 'Saint Vincent and the Grenadines'),
    ('PR', '1787', 'Puerto Rico'),
    ('DO', '1809', 'Dominican Republic'),
    ('TT', '1868', 'Trinidad and Tobago'),
    ('KN', '1869', 'Saint Kitts and Nevis'),
    ('JM', '1876', 'Jamaica'),
    ('SS', '211', 'South Sudan'),
    ('MA', '212', 'Morocco'),
    ('DZ', '213', 'Algeria'),
    ('TN', '216', 'Tunisia'),
    ('LY', '218', 'Libya'),
    ('GM', '220', 'Gambia'),
    ('SN', '221', 'Senegal'),
    ('MR', '222', 'Mauritania'),
    ('ML', '223', 'Mali'),
    ('GN', '224', 'Guinea'),
    ('CI', '225', 'Cote d''Ivoire'),
    ('BF', '226', 'Burkina Faso'),
    ('NE', '227', 'Niger'),
    ('TG', '228', 'Togo'),
    ('BJ', '229', 'Benin'),
    ('MU', '230', 'Mauritius'),
    ('LR', '231', 'Liberia'),
    ('SL', '232', 'Sierra Leone'),
    ('GH', '233', 'Ghana'),
    ('NG', '234', 'Nigeria'),
    ('TD', '235', 'Chad'),
    ('CF', '236', 'Central African Republic'),
    ('CM', '237', 'Cameroon'),
    ('CV', '238', 'Cape Verde'),
    ('ST', '239', 'Sao Tome and Principe'),
    ('GQ', '240', 'Equatorial Guinea'),
    ('GA', '241', 'Gabon'),
    ('CG', '242', 'Congo'),
    ('CD', '243', 'Congo (Democratic Republic)'),
    ('AO', '244', 'Angola'),
    ('GW', '245', 'Guinea-Bissau'),
    ('IO', '246', 'British Indian Ocean Territory'),
    ('AC', '247', 'Ascension Island'),
    ('SC', '248', 'Seychelles'),
    ('SD', '249', 'Sudan'),
    ('RW', '250', 'Rwanda'),
    ('ET', '251', 'Ethiopia'),
    ('SO', '252', 'Somalia'),
    ('DJ', '253', 'Djibouti'),
    ('KE', '254', 'Kenya'),
    ('TZ', '255', 'Tanzania'),
    ('UG', '256', 'Uganda'),
    ('BI', '257', 'Burundi'),
    ('MZ', '258', 'Mozambique'),
    ('ZM', '260', 'Zambia'),
    ('MG', '261', 'Madagascar'),
    ('RE', '262', 'Reunion'),
    ('ZW', '263', 'Zimbabwe'),
    ('NA', '264', 'Namibia'),
    ('MW', '265', 'Malawi'),
    ('LS', '266', 'Lesotho'),
    ('BW', '267', 'Botswana'),
    ('SZ', '268', 'Eswatini'),
    ('KM', '269', 'Comoros'),
    ('SH', '290', 'Saint Helena'),
    ('ER', '291', 'Eritrea'),
    ('AW', '297', 'Aruba'),
    ('FO', '298', 'Faroe Islands'),
    ('GL', '299', 'Greenland'),
    ('GI', '350', 'Gibraltar'),
    ('PT', '351', 'Portugal'),
    ('LU', '352', 'Luxembourg'),
    ('IE', '353', 'Ireland'),
    ('IS', '354', 'Iceland'),
    ('AL', '355', 'Albania'),
    ('MT', '356', 'Malta'),
    ('CY', '357', 'Cyprus'),
    ('FI', '358', 'Finland'),
    ('BG', '359', 'Bulgaria'),
    ('LT', '370', 'Lithuania'),
    ('LV', '371', 'Latvia'),
    ('EE', '372', 'Estonia'),
    ('MD', '373', 'Moldova'),
    ('AM', '374', 'Armenia'),
    ('BY', '375', 'Belarus'),
    ('AD', '376', 'Andorra'),
    ('MC', '377', 'Monaco'),
    ('SM', '378', 'San Marino'),
    ('VA', '379', 'Vatican City'),
    ('UA', '380', 'Ukraine'),
    ('RS', '381', 'Serbia'),
    ('ME', '382', 'Montenegro'),
    ('XK', '383', 'Kosovo'),
    ('HR', '385', 'Croatia'),
    ('SI', '386', 'Slovenia'),
    ('BA', '387', 'Bosnia and Herzegovina'),
    ('MK', '389', 'North Macedonia'),
    ('CZ', '420', 'Czech Republic'),
    ('SK', '421', 'Slovakia'),
    ('LI', '423', 'Liechtenstein'),
    ('FK', '500', 'Falkland Islands'),
    ('BZ', '501', 'Belize'),
    ('GT', '502', 'Guatemala'),
    ('SV', '503', 'El Salvador'),
    ('HN', '504', 'Honduras'),
    ('NI', '505', 'Nicaragua'),
    ('CR', '506', 'Costa Rica'),
    ('PA', '507', 'Panama'),
    ('PM', '508', 'Saint Pierre and Miquelon'),
    ('HT', '509', 'Haiti'),
    ('GP', '590', 'Guadeloupe'),
    ('BO', '591', 'Bolivia'),
    ('GY', '592', 'Guyana'),
    ('EC', '593', 'Ecuador'),
    ('GF', '594', 'French Guiana'),
    ('PY', '595', 'Paraguay'),
    ('MQ', '596', 'Martinique'),
    ('SR', '597', 'Suriname'),
    ('UY', '598', 'Uruguay'),
    ('BQ', '599', 'Caribbean Netherlands'),
    ('TL', '670', 'East Timor'),
    ('NF', '672', 'Norfolk Island'),
    ('BN', '673', 'Brunei'),
    ('NR', '674', 'Nauru'),
    ('PG', '675', 'Papua New Guinea'),
    ('TO', '676', 'Tonga'),
    ('SB', '677', 'Solomon Islands'),
    ('VU', '678', 'Vanuatu'),
    ('FJ', '679', 'Fiji'),
    ('PW', '680', 'Palau'),
    ('WF', '681', 'Wallis and Futuna'),
    ('CK', '682', 'Cook Islands'),
    ('NU', '683', 'Niue'),
    ('WS', '685', 'Samoa'),
    ('KI', '686', 'Kiribati'),
    ('NC', '687', 'New Caledonia'),
    ('TV', '688', 'Tuvalu'),
    ('PF', '689', 'French Polynesia'),
    ('TK', '690', 'Tokelau'),
    ('FM', '691', 'Micronesia'),
    ('MH', '692', 'Marshall Islands'),
    ('KP', '850', 'Korea (North)'),
    ('HK', '852', 'Hong Kong'),
    ('MO', '853', 'Macau'),
    ('KH', '855', 'Cambodia'),
    ('LA', '856', 'Laos'),
    ('BD', '880', 'Bangladesh'),
    ('TW', '886', 'Taiwan'),
    ('MV', '960', 'Maldives'),
    ('LB', '961', 'Lebanon'),
    ('JO', '962', 'Jordan'),
    ('SY', '963', 'Syria'),
    ('IQ', '964', 'Iraq'),
    ('KW', '965', 'Kuwait'),
    ('SA', '966', 'Saudi Arabia'),
    ('YE', '967', 'Yemen'),
    ('OM', '968', 'Oman'),
    ('PS', '970', 'Palestine'),
    ('AE', '971', 'United Arab Emirates'),
    ('IL', '972', 'Israel'),
    ('BH', '973', 'Bahrain'),
    ('QA', '974', 'Qatar'),
    ('BT', '975', 'Bhutan'),
    ('MN', '976', 'Mongolia'),
    ('NP', '977', 'Nepal'),
    ('TJ', '992', 'Tajikistan'),
    ('TM', '993', 'Turkmenistan'),
    ('AZ', '994', 'Azerbaijan'),
    ('GE', '995', 'Georgia'),
    ('KG', '996', 'Kyrgyzstan'),
    ('UZ', '998', 'Uzbekistan'),
    ('EG', '20', 'Egypt'),
    ('ZA', '27', 'South Africa'),
    ('GR', '30', 'Greece'),
    ('NL', '31', 'Netherlands'),
    ('BE', '32', 'Belgium'),
    ('FR', '33', 'France'),
    ('ES', '34', 'Spain'),
    ('HU', '36', 'Hungary'),
    ('IT', '39', 'Italy'),
    ('RO', '40', 'Romania'),
    ('CH', '41', 'Switzerland'),
    ('AT', '43', 'Austria'),
    ('GB', '44', 'United Kingdom'),
    ('DK', '45', 'Denmark'),
    ('SE', '46', 'Sweden'),
    ('NO', '47', 'Norway'),
    ('PL', '48', 'Poland'),
    ('DE', '49', 'Germany'),
    ('PE', '51', 'Peru'),
    ('MX', '52', 'Mexico'),
    ('CU', '53', 'Cuba'),
    ('AR', '54', 'Argentina'),
    ('BR', '55', 'Brazil'),
    ('CL', '56', 'Chile'),
    ('CO', '57', 'Colombia'),
    ('VE', '58', 'Venezuela'),
    ('MY', '60', 'Malaysia'),
    ('AU', '61', 'Australia'),
    ('ID', '62', 'Indonesia'),
    ('PH', '63', 'Philippines'),
    ('NZ', '64', 'New Zealand'),
    ('SG', '65', 'Singapore'),
    ('TH', '66', 'Thailand'),
    ('JP', '81', 'Japan'),
    ('KR', '82', 'Korea (South)'),
    ('VN', '84', 'Vietnam'),
    ('CN', '86', 'China'),
    ('TR', '90', 'Turkey'),
    ('IN', '91', 'India'),
    ('PK', '92', 'Pakistan'),
    ('AF', '93', 'Afghanistan'),
    ('LK', '94', 'Sri Lanka'),
    ('MM', '95', 'Myanmar'),
    ('IR', '98', 'Iran'),
    ('US', '1', 'United States and Canada'),
    ('KZ', '7', 'Kazakhstan and Russia');
